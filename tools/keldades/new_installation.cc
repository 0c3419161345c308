#include "keldades/new_installation.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "data/data_files.h"
#include "keldades/cli.h"
#include "keldades/dataset.h"
#include "platform/system/paths.h"
#include "platform/system/system.h"

namespace tarnevos::keldades {
namespace {

namespace fs = std::filesystem;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 64;
constexpr std::string_view kSettingsFile = "Orvo.ini";

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

bool ReadBytes(const std::string& path, std::string& bytes) {
  std::error_code ignored;
  if (fs::is_directory(path, ignored)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in),
               std::istreambuf_iterator<char>());
  return !in.bad();
}

// Writes a new file; fails when anything already stands at the path.
bool WriteNewFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wbx");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = std::fclose(file) == 0 && ok;
  if (!ok) std::remove(path.c_str());
  return ok;
}

// The regular files below a template folder, relative, sorted.
std::vector<std::string> TemplateFiles(const std::string& templates_dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(templates_dir, ec), end;
       !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) {
      files.push_back(
          fs::path(it->path()).lexically_relative(templates_dir).string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool SameName(std::string_view a, std::string_view b) {
  auto trim = [](std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
      text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
      text.remove_suffix(1);
    }
    return text;
  };
  a = trim(a);
  b = trim(b);
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto upper = [](char c) {
             return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
           };
           return upper(x) == upper(y);
         });
}

// What a new installation changes, to be undone after a failure: the files
// and folders it made, undone newest first.
class Undo {
 public:
  ~Undo() {
    if (committed_) return;
    std::error_code ignored;
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      fs::remove(*it, ignored);  // a folder only when it is empty again
    }
  }
  void Made(const std::string& path) { made_.push_back(path); }
  void Commit() { committed_ = true; }

  // Creates the folder and its missing parents, remembering each.
  bool MakeFolders(const fs::path& folder, std::string& error) {
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path at = folder; !at.empty() && !fs::exists(at, ec);
         at = at.parent_path()) {
      missing.push_back(at);
      if (at == at.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (!fs::create_directory(*it, ec) && ec) {
        error =
            it->string() + ": cannot create the folder (" + ec.message() + ")";
        return false;
      }
      Made(it->string());
    }
    if (!fs::is_directory(folder, ec)) {
      error = folder.string() + ": not a folder";
      return false;
    }
    return true;
  }

 private:
  std::vector<std::string> made_;
  bool committed_ = false;
};

bool CopyTemplates(const NewInstallationRequest& request,
                   const std::string& root,
                   const std::vector<std::string>& files, Undo& undo,
                   std::string& error) {
  for (const std::string& relative : files) {
    const std::string source = request.templates_dir + relative;
    const std::string target = root + relative;
    std::string bytes;
    if (!ReadBytes(source, bytes)) {
      error = source + ": cannot be read";
      return false;
    }
    if (relative == kSettingsFile && !request.language.empty()) {
      bytes = WithSetting(bytes, "Usuari", "Idioma", request.language);
    }
    if (!undo.MakeFolders(fs::path(target).parent_path(), error)) return false;
    if (!WriteNewFile(target, bytes)) {
      error = target + ": cannot be written";
      return false;
    }
    undo.Made(target);
  }
  return true;
}

// "Orvo.ini, FORMS/TARNEVOS.KPN, AJUDA/ (2 files), ..." for the summary.
std::string Summary(const std::vector<std::string>& files) {
  std::string text;
  size_t i = 0;
  while (i < files.size()) {
    const size_t slash = files[i].find('/');
    size_t j = i + 1;
    if (slash != std::string::npos) {
      const std::string folder = files[i].substr(0, slash + 1);
      while (j < files.size() && files[j].rfind(folder, 0) == 0) ++j;
    }
    text += text.empty() ? "" : ", ";
    text += j - i == 1 ? files[i]
                       : files[i].substr(0, slash + 1) + " (" +
                             std::to_string(j - i) + " files)";
    i = j;
  }
  return text;
}

constexpr const char* kUsage =
    "usage: keldades new ROOT [DATASET.json] [--language CAT|SPA|GLG|OCI]\n"
    "                         [--templates DIR]\n";

}  // namespace

const std::vector<std::string>& RequiredTemplateFiles() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> list = {
        std::string(kSettingsFile), "FORMS/TARNEVOS.KPN", "LOCALE/TARNEVOS.LNG",
        "AJUDA/TARNEVOS.HLP"};
    for (const FileLayout& layout : FileLayouts()) {
      list.push_back(std::string("ddf/") + layout.name + ".xdf");
    }
    return list;
  }();
  return files;
}

std::vector<std::string> TemplateFolders() {
  std::vector<std::string> folders;
  const std::string own = platform::ExecutableDirectory();
#ifdef TARNEVOS_TEMPLATES_FROM_BIN
  if (!own.empty()) folders.push_back(own + TARNEVOS_TEMPLATES_FROM_BIN);
#endif
#ifdef TARNEVOS_INSTALLED_TEMPLATES_DIR
  folders.push_back(TARNEVOS_INSTALLED_TEMPLATES_DIR);
#endif
#ifdef TARNEVOS_BUILD_TEMPLATES_DIR
  folders.push_back(TARNEVOS_BUILD_TEMPLATES_DIR);
#endif
  (void)own;
  return folders;
}

std::string FindTemplates(const std::vector<std::string>& folders,
                          std::string& error) {
  std::string looked;
  for (const std::string& folder : folders) {
    const std::string dir = WithSlash(folder);
    std::error_code ignored;
    const bool complete = std::all_of(
        RequiredTemplateFiles().begin(), RequiredTemplateFiles().end(),
        [&](const std::string& file) {
          return fs::is_regular_file(dir + file, ignored);
        });
    if (complete) return dir;
    looked += (looked.empty() ? "" : ", ") + dir;
  }
  error = "no complete installation templates (looked in " +
          (looked.empty() ? std::string("no folder") : looked) +
          "); name them with --templates DIR";
  return "";
}

std::vector<std::string> ExistingInstallationFiles(
    const std::string& root, const std::string& templates_dir) {
  std::vector<std::string> candidates = TemplateFiles(templates_dir);
  for (const FileLayout& layout : FileLayouts()) {
    candidates.push_back(std::string("DADES/") + layout.name + ".dat");
  }
  std::vector<std::string> existing;
  for (const std::string& relative : candidates) {
    std::error_code ignored;
    if (fs::exists(platform::NativePath(root + relative), ignored)) {
      existing.push_back(relative);
    }
  }
  std::sort(existing.begin(), existing.end());
  existing.erase(std::unique(existing.begin(), existing.end()), existing.end());
  return existing;
}

std::string WithSetting(std::string_view text, std::string_view section,
                        std::string_view key, std::string_view value) {
  // The line end the file uses, for added lines.
  const std::string line_end =
      text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  std::string out;
  bool in_section = false;
  bool section_seen = false;
  bool done = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(pos, end - pos);
    pos = end;
    if (done) {
      out += line;
      continue;
    }
    std::string_view body = line.substr(0, line.find_first_of(";\r\n"));
    const size_t first = body.find_first_not_of(" \t");
    body = first == std::string_view::npos ? std::string_view()
                                           : body.substr(first);
    if (!body.empty() && body.front() == '[') {
      if (in_section) {  // the key is missing from its section: add it
        out += std::string(key) + "=" + std::string(value) + line_end;
        done = true;
        out += line;
        continue;
      }
      const std::string_view name = body.substr(1, body.find(']') - 1);
      in_section = !section_seen && SameName(name, section);
      section_seen = section_seen || in_section;
      out += line;
      continue;
    }
    const size_t equals = body.find('=');
    if (in_section && equals != std::string_view::npos &&
        SameName(body.substr(0, equals), key)) {
      const size_t value_start = static_cast<size_t>(line.find('=') + 1);
      const size_t line_end_at = line.find_first_of("\r\n");
      out += std::string(line.substr(0, value_start)) + std::string(value) +
             std::string(line_end_at == std::string_view::npos
                             ? std::string_view()
                             : line.substr(line_end_at));
      done = true;
      continue;
    }
    out += line;
  }
  if (!done) {
    if (!out.empty() && out.back() != '\n') out += line_end;
    if (!in_section)
      out += line_end + "[" + std::string(section) + "]" + line_end;
    out += std::string(key) + "=" + std::string(value) + line_end;
  }
  return out;
}

bool MakeNewInstallation(const NewInstallationRequest& request,
                         std::vector<std::string>& written, WriteCounts& counts,
                         std::string& error) {
  written.clear();
  counts = WriteCounts{};
  const std::string root = RootPath(request.root);
  // Everything that can be checked is checked before anything is written.
  RecordSet records;
  if (!request.dataset_path.empty() &&
      !ReadDatasetFile(request.dataset_path, records, error)) {
    return false;
  }
  std::string missing;
  for (const std::string& file : RequiredTemplateFiles()) {
    std::error_code ignored;
    if (!fs::is_regular_file(request.templates_dir + file, ignored)) {
      missing += (missing.empty() ? "" : ", ") + file;
    }
  }
  if (!missing.empty()) {
    error = request.templates_dir + ": incomplete installation templates (" +
            missing + " missing)";
    return false;
  }
  std::error_code ec;
  if (fs::exists(root, ec) && !fs::is_directory(root, ec)) {
    error = request.root + ": not a folder";
    return false;
  }
  const std::vector<std::string> existing =
      ExistingInstallationFiles(root, request.templates_dir);
  if (!existing.empty()) {
    // The settings file and the data files first: they say most.
    std::vector<std::string> ordered = existing;
    std::stable_partition(
        ordered.begin(), ordered.end(),
        [](const std::string& name) { return name.rfind("DADES/", 0) == 0; });
    std::stable_partition(
        ordered.begin(), ordered.end(),
        [](const std::string& name) { return name == kSettingsFile; });
    constexpr size_t kNamed = 3;
    std::string names;
    for (size_t i = 0; i < ordered.size() && i < kNamed; ++i) {
      names += (names.empty() ? "" : ", ") + ordered[i];
    }
    if (ordered.size() > kNamed) {
      names += " and " + std::to_string(ordered.size() - kNamed) + " more";
    }
    error = request.root + " already holds an installation (" + names +
            "); it was left as it is. To replace its data use: keldades "
            "load " +
            request.root + " DATASET.json";
    return false;
  }

  Undo undo;
  const std::vector<std::string> files = TemplateFiles(request.templates_dir);
  // The root ends with "/": its "parent" is the folder itself.
  if (!undo.MakeFolders(fs::path(root).parent_path(), error) ||
      !CopyTemplates(request, root, files, undo, error)) {
    return false;
  }
  const bool had_data_folder = fs::exists(root + "DADES", ec);
  if (!WriteRecordSet(root, records, counts, error)) {
    if (!had_data_folder) fs::remove(root + "DADES", ec);
    return false;
  }
  undo.Commit();
  written = files;
  return true;
}

int NewCommand(const std::vector<std::string>& arguments, std::ostream& out,
               std::ostream& err) {
  NewInstallationRequest request;
  std::vector<std::string> positional;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    std::string name = argument.substr(0, argument.find('='));
    if (name != "--language" && name != "--templates") {
      if (!argument.empty() && argument[0] == '-') {
        err << "keldades: unknown option " << argument << "\n" << kUsage;
        return kExitUsage;
      }
      positional.push_back(argument);
      continue;
    }
    std::string value;
    if (name.size() < argument.size()) {
      value = argument.substr(name.size() + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    }
    if (name == "--templates") {
      if (value.empty()) {
        err << "keldades: --templates needs a folder\n" << kUsage;
        return kExitUsage;
      }
      request.templates_dir = WithSlash(value);
      continue;
    }
    for (char& c : value) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    if (value != "CAT" && value != "SPA" && value != "GLG" && value != "OCI") {
      err << "keldades: --language must be CAT, SPA, GLG or OCI\n" << kUsage;
      return kExitUsage;
    }
    request.language = value;
  }
  if (positional.empty() || positional.size() > 2 || positional[0].empty()) {
    err << kUsage;
    return kExitUsage;
  }
  request.root = positional[0];
  if (positional.size() == 2) request.dataset_path = positional[1];

  std::string error;
  if (request.templates_dir.empty()) {
    request.templates_dir = FindTemplates(TemplateFolders(), error);
    if (request.templates_dir.empty()) {
      err << "keldades: " << error << "\nnothing was written\n";
      return kExitFailed;
    }
  }
  std::vector<std::string> written;
  WriteCounts counts;
  if (!MakeNewInstallation(request, written, counts, error)) {
    err << "keldades: " << error << "\nnothing was written\n";
    return kExitFailed;
  }
  const std::string root = RootPath(request.root);
  out << "new installation in " << root << "\n  " << Summary(written)
      << "\n  from the templates in "
      << fs::path(request.templates_dir).lexically_normal().string()
      << "\n  DADES: ";
  PrintCounts(counts, out);
  out << "Next: write the administrator's lines ([Administrador]) in " << root
      << kSettingsFile << ",\nthen start the program inside the installation:"
      << "\n  cd " << request.root << " && tarnevos\n";
  return 0;
}

}  // namespace tarnevos::keldades
