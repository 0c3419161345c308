#include "util/text.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "util/dates.h"

namespace tarnevos {
namespace {

// Both folding tables cover the codes 64..237; the character with code c
// becomes the table's entry c - 64. Codes outside that range never change.
constexpr int kFoldFirst = 64;
constexpr int kFoldLast = 237;
constexpr int kFoldSize = kFoldLast - kFoldFirst + 1;

// Capitals without accents; every other symbol of the range is a blank, so
// that "Núñez, José" and "NUNEZ  JOSE" compare equal in searches.
constexpr std::string_view kSearchTable =
    " ABCDEFGHIJKLMNOPQRSTUVWXYZ      ABCDEFGHIJKLMNOPQRSTUVWXYZ     "
    "CUEAAAACEEEIIIAAEAAOOOUUYOUO O  AIOUNNAO             AAA        "
    "      AA        DDEEEEIII     I OSOOOO TTUUUYY";
static_assert(kSearchTable.size() == kFoldSize);

// CP850 small letters and their capitals (ÿ and ø have none in CP850).
constexpr std::array<std::pair<unsigned char, unsigned char>, 28>
    kAccentedCapitals = {{
        {0x81, 0x9A},  // ü Ü
        {0x82, 0x90},  // é É
        {0x83, 0xB6},  // â Â
        {0x84, 0x8E},  // ä Ä
        {0x85, 0xB7},  // à À
        {0x86, 0x8F},  // å Å
        {0x87, 0x80},  // ç Ç
        {0x88, 0xD2},  // ê Ê
        {0x89, 0xD3},  // ë Ë
        {0x8A, 0xD4},  // è È
        {0x8B, 0xD8},  // ï Ï
        {0x8C, 0xD7},  // î Î
        {0x8D, 0xDE},  // ì Ì
        {0x91, 0x92},  // æ Æ
        {0x93, 0xE2},  // ô Ô
        {0x94, 0x99},  // ö Ö
        {0x95, 0xE3},  // ò Ò
        {0x96, 0xEA},  // û Û
        {0x97, 0xEB},  // ù Ù
        {0xA0, 0xB5},  // á Á
        {0xA1, 0xD6},  // í Í
        {0xA2, 0xE0},  // ó Ó
        {0xA3, 0xE9},  // ú Ú
        {0xA4, 0xA5},  // ñ Ñ
        {0xC6, 0xC7},  // ã Ã
        {0xD0, 0xD1},  // ð Ð
        {0xE4, 0xE5},  // õ Õ
        {0xEC, 0xED},  // ý Ý
    }};

// The plain upper-case table: identity with a-z and the accented small
// letters replaced by their capitals.
constexpr std::array<unsigned char, kFoldSize> MakePlainTable() {
  std::array<unsigned char, kFoldSize> table{};
  for (int i = 0; i < kFoldSize; ++i) {
    table[i] = static_cast<unsigned char>(kFoldFirst + i);
  }
  for (int c = 'a'; c <= 'z'; ++c) {
    table[c - kFoldFirst] = static_cast<unsigned char>(c - 'a' + 'A');
  }
  for (const auto& [small, capital] : kAccentedCapitals) {
    table[small - kFoldFirst] = capital;
  }
  return table;
}
constexpr std::array<unsigned char, kFoldSize> kPlainTable = MakePlainTable();

struct TextState {
  bool search_folding = false;
  std::vector<std::string> stack;
};

TextState& State() {
  static TextState state;
  return state;
}

bool IsBlank(char c) { return c == ' '; }

// Digits of the number at the start of a group: leading blanks and zeros
// dropped, the first non-digit ends it.
std::string GroupDigits(std::string_view group) {
  size_t pos = 0;
  while (pos < group.size() && (group[pos] == ' ' || group[pos] == '0')) ++pos;
  std::string digits;
  while (pos < group.size() && group[pos] >= '0' && group[pos] <= '9') {
    digits += group[pos++];
  }
  return digits;
}

// Left-pads with "0" and keeps the rightmost `width` characters.
std::string PadDigits(std::string_view digits, size_t width) {
  if (digits.size() >= width) {
    return std::string(digits.substr(digits.size() - width));
  }
  return std::string(width - digits.size(), '0') + std::string(digits);
}

}  // namespace

std::string FoldText(std::string_view text) {
  const bool search = State().search_folding;
  std::string folded(text);
  for (char& c : folded) {
    int code = static_cast<unsigned char>(c);
    if (code < kFoldFirst || code > kFoldLast) continue;
    c = static_cast<char>(search ? kSearchTable[code - kFoldFirst]
                                 : kPlainTable[code - kFoldFirst]);
  }
  return folded;
}

void SetSearchFolding(bool on) { State().search_folding = on; }
bool SearchFolding() { return State().search_folding; }

std::string ReorderName(std::string_view stored_name) {
  size_t star = stored_name.find('*');
  if (star == std::string_view::npos || star == 0) {
    return TrimBlanks(stored_name);
  }
  std::string given = TrimBlanks(stored_name.substr(star + 1));
  std::string surname = TrimBlanks(stored_name.substr(0, star));
  // An elided particle ("D'") at the end of the given part joins the
  // surname without a blank.
  std::string whole = TrimRightBlanks(stored_name);
  bool elided = !whole.empty() && whole.back() == '\'';
  return given + (elided ? "" : " ") + surname;
}

std::string ZeroPad(double number, int width) {
  if (width <= 0) return "";
  std::string digits;
  double magnitude = std::trunc(std::fabs(number));
  if (std::isfinite(magnitude) && magnitude >= 1) {
    // %.0f writes the exact decimal expansion of the integer-valued double.
    char buffer[400];
    int length = std::snprintf(buffer, sizeof buffer, "%.0f", magnitude);
    if (length > 0 && length < static_cast<int>(sizeof buffer)) {
      digits.assign(buffer, static_cast<size_t>(length));
    }
  }
  return PadDigits(digits, static_cast<size_t>(width));
}

std::string PackDottedCode(std::string_view code) {
  size_t dots = 0;
  for (char c : code) dots += c == '.';
  size_t first_width =
      (code.size() == 6 && dots == 0) || (code.size() == 11 && dots <= 1) ? 6
                                                                          : 4;
  std::string digits;
  size_t width = first_width;
  size_t start = 0;
  while (true) {
    size_t dot = code.find('.', start);
    std::string_view rest = start <= code.size() ? code.substr(start) : "";
    if (dot == std::string_view::npos &&
        rest.find_first_not_of(' ') == std::string_view::npos) {
      break;
    }
    std::string_view group =
        dot == std::string_view::npos ? rest : code.substr(start, dot - start);
    digits += PadDigits(GroupDigits(group), width);
    width = 4;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return PackDigits(digits);
}

std::string FormatPackedCode(std::string_view packed) {
  std::string digits = UnpackDigits(packed);
  bool zero = digits.find_first_not_of('0') == std::string::npos;
  if (digits.size() < 4) return zero ? "" : digits;
  if (zero) return "";

  // Groups of four from the right; four to six digits left over at the
  // left make the leftmost group.
  std::vector<std::string_view> groups;  // rightmost first
  std::string_view rest = digits;
  while (rest.size() > 6) {
    groups.push_back(rest.substr(rest.size() - 4));
    rest.remove_suffix(4);
  }
  if (!rest.empty()) groups.push_back(rest);

  std::string shown;
  bool dropping = true;  // zero groups on the right are not shown
  for (std::string_view group : groups) {
    size_t first = group.find_first_not_of('0');
    std::string number = first == std::string_view::npos
                             ? "0"
                             : std::string(group.substr(first));
    if (dropping && first == std::string_view::npos) continue;
    shown = dropping ? number : number + "." + shown;
    dropping = false;
  }
  return shown;
}

void PushText(std::string_view text) { State().stack.emplace_back(text); }

std::string PopText() {
  auto& stack = State().stack;
  if (stack.empty()) return "";
  std::string top = std::move(stack.back());
  stack.pop_back();
  return top;
}

bool IsAllChar(std::string_view text, int code) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) != code) return false;
  }
  return true;
}

int CentreOffset(std::string_view text, int width) {
  int64_t offset =
      (static_cast<int64_t>(width) - static_cast<int64_t>(text.size())) / 2;
  if (offset < INT32_MIN) return INT32_MIN;
  return static_cast<int>(offset);
}

std::string CopyBytes(const void* area, int length) {
  if (area == nullptr || length <= 0) return "";
  return std::string(static_cast<const char*>(area),
                     static_cast<size_t>(length));
}

std::string TrimBlanks(std::string_view text) {
  return TrimLeftBlanks(TrimRightBlanks(text));
}

std::string TrimLeftBlanks(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return std::string(text.substr(start));
}

std::string TrimRightBlanks(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string FitText(std::string_view text, int width) {
  if (width <= 0) return "";
  std::string fitted(text.substr(0, static_cast<size_t>(width)));
  fitted.resize(static_cast<size_t>(width), ' ');
  return fitted;
}

void TEST_ResetTextState() { State() = TextState{}; }

}  // namespace tarnevos
