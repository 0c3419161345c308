#include "kelprint/paper.h"

#include <array>
#include <fstream>

#include "platform/system/system.h"

namespace tarnevos::kelprint {
namespace {

constexpr double kPointsPerMillimetre = 72.0 / 25.4;

struct KnownPaper {
  std::string_view name;
  double width;  // points
  double height;
};

constexpr std::array<KnownPaper, 9> kPapers = {{
    {"a4", 210 * kPointsPerMillimetre, 297 * kPointsPerMillimetre},
    {"letter", 612, 792},
    {"a3", 297 * kPointsPerMillimetre, 420 * kPointsPerMillimetre},
    {"a5", 148 * kPointsPerMillimetre, 210 * kPointsPerMillimetre},
    {"b5", 176 * kPointsPerMillimetre, 250 * kPointsPerMillimetre},
    {"legal", 612, 1008},
    {"executive", 522, 756},
    {"tabloid", 792, 1224},
    {"ledger", 1224, 792},
}};

// The settings file is a line or two; anything longer is not one.
constexpr std::streamsize kMaxSettingsBytes = 4096;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' ||
         c == '\v';
}

}  // namespace

std::string PaperNameFromSettings(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    if (start == line.size() || line[start] == '#') continue;
    size_t stop = start;
    while (stop < line.size() && !IsBlank(line[stop])) ++stop;
    return std::string(line.substr(start, stop - start));
  }
  return "";
}

namespace {

std::string ReadSettings(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::string text(static_cast<size_t>(kMaxSettingsBytes), '\0');
  in.read(text.data(), kMaxSettingsBytes);
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

}  // namespace

std::optional<Paper> PaperByName(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const KnownPaper& paper : kPapers) {
    if (paper.name == lower) {
      return Paper{std::string(paper.name), paper.width, paper.height};
    }
  }
  return std::nullopt;
}

Paper DefaultPaper() { return *PaperByName("a4"); }

Paper SystemPaper() {
  std::string name = platform::GetEnv("PAPERSIZE");
  if (name.empty()) {
    std::string file = platform::GetEnv("PAPERCONF");
    if (file.empty()) file = "/etc/papersize";
    name = PaperNameFromSettings(ReadSettings(file));
  }
  return PaperByName(PaperNameFromSettings(name)).value_or(DefaultPaper());
}

}  // namespace tarnevos::kelprint
