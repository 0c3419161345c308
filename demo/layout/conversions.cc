#include "layout/conversions.h"

#include <cstdio>
#include <iterator>
#include <string_view>
#include <vector>

#include "util/codepage.h"

namespace tarnevos::demo {
namespace {

// Help markup: both tags of a pair become the byte that toggles the
// attribute in the help viewer.
struct HelpTag {
  std::string_view open;
  std::string_view close;
  char byte;
};
constexpr HelpTag kHelpTags[] = {
    {"{h}", "{/h}", 30},  // highlighted
    {"{u}", "{/u}", 31},  // underlined
    {"{r}", "{/r}", 16},  // reverse
};

bool IsUtf8Text(std::string_view bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes[pos] == '\0') return false;
    if (tarnevos::DecodeUtf8(bytes, pos) < 0) return false;
  }
  return true;
}

// The lines of a text split at LF, CR LF or CR. A last line without a line
// end counts; `ends_with_break` tells whether the text ended with one.
struct Lines {
  std::vector<std::string> lines;
  bool ends_with_break = false;
};

Lines SplitLines(std::string_view text) {
  Lines result;
  std::string current;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      result.lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  result.ends_with_break =
      !text.empty() && (text.back() == '\r' || text.back() == '\n');
  if (!result.ends_with_break && !text.empty()) result.lines.push_back(current);
  return result;
}

// One line to CP850; false (with a message) at a character CP850 lacks.
bool LineToCp850(const std::string& line, const std::string& where,
                 std::string& out, std::string& error) {
  size_t pos = 0;
  out.clear();
  while (pos < line.size()) {
    long code_point = tarnevos::DecodeUtf8(line, pos);
    int byte = tarnevos::Cp850ByteOf(static_cast<char32_t>(code_point));
    if (byte < 0) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "U+%04lX", code_point);
      error =
          where + ": the character " + hex + " has no form in code page 850";
      return false;
    }
    out += static_cast<char>(byte);
  }
  return true;
}

// Replaces the markup of a help line by its toggle bytes; every tag opened
// on a line must be closed on it.
bool HelpMarkup(const std::string& line, const std::string& where,
                std::string& out, std::string& error) {
  bool open[std::size(kHelpTags)] = {};
  out.clear();
  size_t i = 0;
  while (i < line.size()) {
    std::string_view rest = std::string_view(line).substr(i);
    bool matched = false;
    for (size_t t = 0; t < std::size(kHelpTags) && !matched; ++t) {
      const HelpTag& tag = kHelpTags[t];
      bool opens = rest.starts_with(tag.open);
      bool closes = rest.starts_with(tag.close);
      if (!opens && !closes) continue;
      if (opens == open[t]) {
        error = where + ": " + std::string(opens ? tag.open : tag.close) +
                (opens ? " is already open" : " closes nothing");
        return false;
      }
      open[t] = opens;
      out += tag.byte;
      i += opens ? tag.open.size() : tag.close.size();
      matched = true;
    }
    if (!matched) out += line[i++];
  }
  for (size_t t = 0; t < std::size(kHelpTags); ++t) {
    if (open[t]) {
      error = where + ": " + std::string(kHelpTags[t].open) +
              " is not closed on its line";
      return false;
    }
  }
  return true;
}

}  // namespace

bool ConvertText(const std::string& source, const std::string& bytes,
                 std::string& out, std::string& error) {
  if (!IsUtf8Text(bytes)) {
    out = bytes;  // not text: copied as it is
    return true;
  }
  const Lines text = SplitLines(bytes);
  out.clear();
  std::string converted;
  for (size_t i = 0; i < text.lines.size(); ++i) {
    std::string where = source + ":" + std::to_string(i + 1);
    if (!LineToCp850(text.lines[i], where, converted, error)) return false;
    out += converted;
    if (i + 1 < text.lines.size() || text.ends_with_break) out += "\r\n";
  }
  return true;
}

bool ConvertHelp(const std::string& source, const std::string& bytes,
                 std::string& out, std::string& error) {
  if (!IsUtf8Text(bytes)) {
    error = source + ": not UTF-8 text";
    return false;
  }
  const Lines text = SplitLines(bytes);
  out.clear();
  std::string marked, record;
  for (size_t i = 0; i < text.lines.size(); ++i) {
    std::string where = source + ":" + std::to_string(i + 1);
    if (!HelpMarkup(text.lines[i], where, marked, error) ||
        !LineToCp850(marked, where, record, error)) {
      return false;
    }
    if (record.size() > kHelpRecord) {
      error = where + ": the line takes " + std::to_string(record.size()) +
              " bytes; a help line holds at most " +
              std::to_string(kHelpRecord);
      return false;
    }
    record.resize(kHelpRecord, ' ');
    out += record;
  }
  return true;
}

}  // namespace tarnevos::demo
