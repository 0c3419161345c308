#include "settings/ini_reader.h"

#include "platform/system/files.h"
#include "platform/system/paths.h"
#include "platform/system/system.h"
#include "settings/language.h"
#include "settings/session.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

std::string& Oversized() {
  static std::string path;
  return path;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimNameBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Section and key names compare trimmed and with a-z folded to capitals;
// the suite's names are plain ASCII.
bool SameName(std::string_view a, std::string_view b) {
  a = TrimNameBlanks(a);
  b = TrimNameBlanks(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Splits the contents into lines at CR LF, LF or a lone CR; a last line
// without a line end counts as a line.
class LineSplitter {
 public:
  explicit LineSplitter(std::string_view contents) : rest_(contents) {}

  bool Next(std::string_view& line) {
    if (rest_.empty()) return false;
    size_t end = rest_.find_first_of("\r\n");
    if (end == std::string_view::npos) {
      line = rest_;
      rest_ = {};
      return true;
    }
    line = rest_.substr(0, end);
    size_t skip =
        (rest_[end] == '\r' && end + 1 < rest_.size() && rest_[end + 1] == '\n')
            ? 2
            : 1;
    rest_.remove_prefix(end + skip);
    return true;
  }

 private:
  std::string_view rest_;
};

// A line with its comment cut off and its leading blanks removed; empty
// when nothing but blanks is left.
std::string_view Meaningful(std::string_view line) {
  line = line.substr(0, line.find(';'));
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  if (TrimNameBlanks(line).empty()) return {};
  return line;
}

// The name of a section header: between "[" and the first "]" (or the end
// of the line).
std::string_view SectionName(std::string_view header) {
  header.remove_prefix(1);
  return header.substr(0, header.find(']'));
}

}  // namespace

std::string ReadSettingFromText(std::string_view contents,
                                std::string_view section,
                                std::string_view key) {
  LineSplitter lines(contents);
  std::string_view line;
  bool in_section = false;
  std::string result;
  while (lines.Next(line)) {
    line = Meaningful(line);
    if (line.empty()) continue;
    if (!in_section) {
      in_section = line.front() == '[' && SameName(SectionName(line), section);
      continue;
    }
    // Only the first section of that name is searched.
    if (line.front() == '[') break;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (SameName(line.substr(0, equals), key)) {
      result = std::string(line.substr(equals + 1));
      break;
    }
  }
  if (result.size() >= 2 && result.front() == '"' && result.back() == '"') {
    result = result.substr(1, result.size() - 2);
  }
  return result;
}

std::string ReadSetting(std::string_view file, std::string_view section,
                        std::string_view key) {
  std::string contents;
  const platform::ReadStatus status =
      platform::ReadWholeFile(file, kMaxSettingsFileBytes, contents);
  if (status == platform::ReadStatus::kTooLarge) NoteOversizedFile(file);
  if (status != platform::ReadStatus::kOk) return "";
  return ReadSettingFromText(TextFileToCp850(contents), section, key);
}

const std::string& OversizedFile() { return Oversized(); }

void NoteOversizedFile(std::string_view suite_path) {
  if (Oversized().empty()) Oversized() = std::string(suite_path);
}

std::string OversizedFileMessage(std::string_view suite_path) {
  constexpr PerLanguage<const char*> kIncorrect = {
      "FITXER INCORRECTE: ", "FICHERO INCORRECTO: ", "FICHEIRO INCORRECTO: ",
      "FICHÈR INCORRÈCTE: "};
  constexpr PerLanguage<const char*> kTooLarge = {
      "ÉS MASSA GRAN", "ES DEMASIADO GRANDE", "É DEMASIADO GRANDE",
      "EI MASSA GRAN"};
  const std::string native = platform::NativePath(suite_path);
  return Cp850(ForLanguage(kIncorrect, SessionLanguage())) +
         (native.empty() ? std::string(suite_path) : native) + ": " +
         Cp850(ForLanguage(kTooLarge, SessionLanguage()));
}

void TEST_ResetOversizedFile() { Oversized().clear(); }

std::string SystemSettingsFile() {
  return platform::GetEnv("KELROOT") + "Orvo.ini";
}

}  // namespace tarnevos
