#include "keldades/cli.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <map>
#include <optional>

#include "data/data_files.h"
#include "data/data_server.h"
#include "keldades/check.h"
#include "keldades/csv_dataset.h"
#include "keldades/csv_values.h"
#include "keldades/dataset.h"
#include "keldades/generate.h"
#include "keldades/new_installation.h"
#include "keldades/store.h"
#include "util/dates.h"

namespace tarnevos::keldades {
namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  keldades new ROOT [DATASET.json] [--language CAT|SPA|GLG|OCI]\n"
    "                [--templates DIR]   lay out a complete installation\n"
    "  keldades init ROOT                 write ROOT/ddf/<file>.xdf\n"
    "  keldades load ROOT DATASET.json    create ROOT/DADES from a dataset\n"
    "  keldades dump ROOT [FILE]          print the data as a dataset\n"
    "  keldades generate ROOT [--communities N] [--units U] [--years Y]\n"
    "                         [--seed S]  create a synthetic installation\n"
    "  keldades export ROOT DIR [--semicolon]\n"
    "                                     write DIR/<section>.csv\n"
    "  keldades import ROOT DIR           create ROOT/DADES from DIR/*.csv\n"
    "  keldades check ROOT [--cutoff DATE]\n"
    "                                     list what will make settlements\n"
    "                                     surprising (exit 1 when anything)\n"
    "  keldades --help | --version\n"
    "More in keldades(1).\n";

#ifdef TARNEVOS_VERSION
constexpr const char* kVersion = TARNEVOS_VERSION;
#else
constexpr const char* kVersion = "unknown";
#endif

constexpr int kExitUsage = 64;

constexpr const char* kCountNames[kFileCount] = {
    "receipt types", "communities", "expense headings",
    "units",         "payments",    "collections"};

// Where the installation's data files are, for messages.
std::string DataPlace(const std::string& root) {
  std::optional<platform::ServerSettings> server = InstallationServer(root);
  if (!server) return root + "DADES";
  return "schema " +
         (server->schema.empty() ? std::string(platform::kDefaultSchema)
                                 : server->schema) +
         " on the server";
}

// What a load, import or generate that failed left: nothing changed, or,
// when a server's connection went while it committed, one of the two sets.
const char* FailureOutcome(const WriteCounts& counts) {
  return counts.outcome_unknown
             ? "the files are either all the old ones or all the new ones: "
               "keldades dump tells which"
             : "nothing was changed";
}

int Init(const std::string& root, std::ostream& out, std::ostream& err) {
  std::string error;
  if (!WriteDictionaries(root, error)) {
    err << "keldades: " << error << "\n";
    return 1;
  }
  out << "dictionaries written to " << root << "ddf\n";
  return 0;
}

// A calendar date as the CSV files write them, packed.
bool CutoffDate(const std::string& text, std::string& packed) {
  std::string iso, error;
  if (!ParseDate(text, iso, error)) return false;
  const int year = std::stoi(iso.substr(0, 4));
  const int month = std::stoi(iso.substr(5, 2));
  const int day = std::stoi(iso.substr(8, 2));
  if (month < 1 || month > 12 || day < 1 || day > MonthLength(year, month)) {
    return false;
  }
  packed = PackDigits(iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2));
  return true;
}

// The check's findings after a successful load, as warnings: the data is
// the administrator's and stays loaded.
void WarnAfterLoad(const std::string& root, std::ostream& err) {
  CheckReport report;
  std::string error;
  if (!CheckInstallation(root, TodayPacked(), report, error)) {
    err << "keldades: warning: the data loaded cannot be checked: " << error
        << "\n";
    return;
  }
  if (report.Count() == 0) return;
  err << "keldades: warning: " << report.Count()
      << (report.Count() == 1 ? " finding" : " findings")
      << " that will make settlements surprising:\n";
  PrintCheckReport(report, "keldades: warning:   ", err);
}

int Load(const std::string& root, const std::string& dataset_path,
         std::ostream& out, std::ostream& err) {
  RecordSet records;
  std::string error;
  if (!ReadDatasetFile(dataset_path, records, error)) {
    err << "keldades: " << error << "\nnothing was written\n";
    return 1;
  }
  WriteCounts counts;
  if (!WriteRecordSet(root, records, counts, error)) {
    err << "keldades: " << error << "\n" << FailureOutcome(counts) << "\n";
    return 1;
  }
  out << "loaded into " << DataPlace(root) << ": ";
  PrintCounts(counts, out);
  if (!counts.warning.empty())
    err << "keldades: warning: " << counts.warning << "\n";
  WarnAfterLoad(root, err);
  return 0;
}

int Export(const std::string& root, const std::vector<std::string>& arguments,
           std::ostream& out, std::ostream& err) {
  CsvStyle style;
  for (size_t i = 3; i < arguments.size(); ++i) {
    if (arguments[i] != "--semicolon") {
      err << "keldades: unknown option " << arguments[i] << "\n" << kUsage;
      return kExitUsage;
    }
    // As spreadsheet programs write CSV where the decimal mark is a comma.
    style = CsvStyle{';', ',', true, true};
  }
  std::string error;
  if (!ExportCsv(root, arguments[2], style, error)) {
    err << "keldades: " << error << "\n";
    return 1;
  }
  out << "exported " << DataPlace(root) << " to " << arguments[2] << "\n";
  return 0;
}

int Import(const std::string& root, const std::string& folder,
           std::ostream& out, std::ostream& err) {
  WriteCounts counts;
  std::string error;
  if (!ImportCsv(root, folder, counts, error)) {
    err << "keldades: " << error << "\n" << FailureOutcome(counts) << "\n";
    return 1;
  }
  out << "imported into " << DataPlace(root) << ": ";
  PrintCounts(counts, out);
  if (!counts.warning.empty())
    err << "keldades: warning: " << counts.warning << "\n";
  WarnAfterLoad(root, err);
  return 0;
}

// Exit 0 nothing found, 1 findings, 2 the installation cannot be read,
// kExitUsage wrong usage.
int Check(const std::string& root, const std::vector<std::string>& arguments,
          std::ostream& out, std::ostream& err) {
  std::string cutoff = TodayPacked();
  for (size_t i = 2; i < arguments.size(); i += 2) {
    if (arguments[i] != "--cutoff" || i + 1 >= arguments.size() ||
        !CutoffDate(arguments[i + 1], cutoff)) {
      err << "keldades: check takes --cutoff and a calendar date "
             "(YYYY-MM-DD or DD/MM/YYYY)\n"
          << kUsage;
      return kExitUsage;
    }
  }
  CheckReport report;
  std::string error;
  if (!CheckInstallation(root, cutoff, report, error)) {
    err << "keldades: " << error << "\n";
    return 2;
  }
  PrintCheckReport(report, "", out);
  if (report.Count() == 0) {
    out << "nothing found\n";
    return 0;
  }
  return 1;
}

bool ParseCount(const std::string& text, int64_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

int GenerateCommand(const std::string& root,
                    const std::vector<std::string>& arguments,
                    std::ostream& out, std::ostream& err) {
  GenerateOptions options;
  for (size_t i = 2; i < arguments.size(); i += 2) {
    const std::string& name = arguments[i];
    int64_t value = 0;
    if (i + 1 >= arguments.size() || !ParseCount(arguments[i + 1], value)) {
      err << "keldades: " << name << " needs a whole number\n" << kUsage;
      return kExitUsage;
    }
    if (name == "--seed") {
      options.seed = static_cast<uint64_t>(value);
      continue;
    }
    int* target = name == "--communities" ? &options.communities
                  : name == "--units"     ? &options.units
                  : name == "--years"     ? &options.years
                                          : nullptr;
    if (target == nullptr) {
      err << "keldades: unknown option " << name << "\n" << kUsage;
      return kExitUsage;
    }
    *target = value < 0 || value > 1000000 ? -1 : static_cast<int>(value);
  }
  std::string error;
  if (!CheckGenerateOptions(options, error)) {
    err << "keldades: " << error << "\n";
    return kExitUsage;
  }
  auto start = std::chrono::steady_clock::now();
  WriteCounts counts;
  if (!Generate(root, options, counts, error)) {
    err << "keldades: " << error << "\n" << FailureOutcome(counts) << "\n";
    return 1;
  }
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  out << "generated in " << DataPlace(root) << " (" << took.count() << " s): ";
  PrintCounts(counts, out);
  if (!counts.warning.empty())
    err << "keldades: warning: " << counts.warning << "\n";
  return 0;
}

// Writes one section, an element per line.
bool DumpSection(const std::string& root, const char* name, FileIndex file,
                 const std::map<std::string, std::string>& headings, bool first,
                 std::ostream& out, std::string& error) {
  out << (first ? "" : ",\n") << "  \"" << name << "\": [";
  bool empty = true;
  bool ok = ReadRecords(
      root, file,
      [&](std::string_view record) {
        const Json element = RecordJson(file, record, headings);
        out << (empty ? "\n    " : ",\n    ")
            << element.dump(-1, ' ', false, Json::error_handler_t::replace);
        empty = false;
      },
      error);
  out << (empty ? "]" : "\n  ]");
  return ok;
}

}  // namespace

void PrintCounts(const WriteCounts& counts, std::ostream& out) {
  for (int file = 0; file < kFileCount; ++file) {
    out << (file == 0 ? "" : ", ") << counts.records[file] << " "
        << kCountNames[file];
  }
  out << "\n";
}

bool DumpInstallation(const std::string& root, const std::string& file,
                      std::ostream& out, std::string& error) {
  std::vector<Section> sections(kSections.begin(), kSections.end());
  if (!file.empty()) {
    const FileLayout* layout = FindFileLayout(file);
    if (layout == nullptr) {
      error = file +
              ": not a data file (THRebut, FinquesH, FinDespH, PropietH, "
              "PagamH, CobramH)";
      return false;
    }
    FileIndex index = static_cast<FileIndex>(layout - FileLayouts().data());
    if (index == kFinDespFile) index = kFinquesFile;
    sections.erase(std::remove_if(sections.begin(), sections.end(),
                                  [index](const Section& section) {
                                    return section.file != index;
                                  }),
                   sections.end());
  }
  std::map<std::string, std::string> headings;
  for (const Section& section : sections) {
    if (section.file != kFinquesFile) continue;
    if (!ReadRecords(
            root, kFinDespFile,
            [&](std::string_view record) {
              headings[KeyOf(kFinDespFile, record)] = std::string(record);
            },
            error)) {
      return false;
    }
  }
  out << "{\n";
  bool first = true;
  for (const Section& section : sections) {
    if (!DumpSection(root, section.name, section.file, headings, first, out,
                     error)) {
      return false;
    }
    first = false;
  }
  out << "\n}\n";
  return true;
}

int RunKeldades(const std::vector<std::string>& arguments, std::ostream& out,
                std::ostream& err) {
  if (arguments.size() == 1 &&
      (arguments[0] == "--help" || arguments[0] == "-h")) {
    out << kUsage;
    return 0;
  }
  if (arguments.size() == 1 && arguments[0] == "--version") {
    out << "keldades " << kVersion << "\n";
    return 0;
  }
  if (!arguments.empty() && arguments[0] == "new") {
    return NewCommand({arguments.begin() + 1, arguments.end()}, out, err);
  }
  if (arguments.size() < 2) {
    if (!arguments.empty() && !arguments[0].empty() && arguments[0][0] == '-') {
      err << "keldades: unknown option " << arguments[0] << "\n";
    }
    err << kUsage;
    return kExitUsage;
  }
  const std::string& command = arguments[0];
  const std::string root = RootPath(arguments[1]);
  // The installation's Orvo.ini says whether its data is on a server.
  UseInstallationRecordManager(root);
  // What a killed load left beside the data folder goes first, whatever
  // the command.
  CleanDataLeftovers(root);
  if (command == "init" && arguments.size() == 2) return Init(root, out, err);
  if (command == "load" && arguments.size() == 3) {
    return Load(root, arguments[2], out, err);
  }
  if (command == "dump" && arguments.size() <= 3) {
    std::string error;
    if (!DumpInstallation(root, arguments.size() == 3 ? arguments[2] : "", out,
                          error)) {
      out.flush();
      err << "keldades: " << error << "\n";
      return 1;
    }
    return 0;
  }
  if (command == "generate") {
    return GenerateCommand(root, arguments, out, err);
  }
  if (command == "export" && arguments.size() >= 3) {
    return Export(root, arguments, out, err);
  }
  if (command == "import" && arguments.size() == 3) {
    return Import(root, arguments[2], out, err);
  }
  if (command == "check") return Check(root, arguments, out, err);
  err << kUsage;
  return kExitUsage;
}

}  // namespace tarnevos::keldades
