#include "console/messages.h"

#include <algorithm>

#include "console/keyboard.h"
#include "console/windows.h"
#include "platform/console/console.h"
#include "platform/system/files.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

bool IsControl(char c) { return static_cast<unsigned char>(c) < 32; }
bool IsVisible(char c) { return static_cast<unsigned char>(c) > 32; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

// Spreads the blanks a justified line lacks over the gaps between its
// words, one at a time from the left, starting again at the first gap.
std::string Justify(const std::string& line, size_t indent, size_t target) {
  std::vector<size_t> word_starts;  // words that follow a gap
  bool seen_word = false;
  for (size_t i = indent; i < line.size(); ++i) {
    if (line[i] == ' ') continue;
    if (seen_word && line[i - 1] == ' ') word_starts.push_back(i);
    seen_word = true;
  }
  if (word_starts.empty() || line.size() >= target) return line;
  const size_t missing = target - line.size();
  const size_t gaps = word_starts.size();
  std::string out;
  out.reserve(target);
  size_t from = 0;
  for (size_t g = 0; g < gaps; ++g) {
    out.append(line, from, word_starts[g] - from);
    out.append(missing / gaps + (g < missing % gaps ? 1 : 0), ' ');
    from = word_starts[g];
  }
  out.append(line, from, std::string::npos);
  return out;
}

std::string Align(std::string line, size_t indent, size_t target,
                  char alignment, bool last_line) {
  const size_t free = target > line.size() ? target - line.size() : 0;
  switch (alignment) {
    case 'E':
    case 'L':
    case 'I':
      return line.append(free, ' ');
    case 'N':
      return line.append(free, '-');
    case 'D':
    case 'R':
      return std::string(free, ' ') + line;
    case 'C':
      return std::string(free / 2, ' ') + line +
             std::string((free + 1) / 2, ' ');
    case 'A':
    case 'B':
      return last_line ? line : Justify(line, indent, target);
    default:
      return line;
  }
}

platform::Console& Con() { return platform::CurrentConsole(); }

// Help files larger than this are shown up to it (some 400,000 lines).
constexpr size_t kMaxHelpBytes = 32 << 20;

std::string ReadHelpFile(std::string_view suite_path) {
  std::string bytes;
  const platform::ReadStatus status =
      platform::ReadWholeFile(suite_path, kMaxHelpBytes, bytes);
  if (status != platform::ReadStatus::kOk &&
      status != platform::ReadStatus::kTooLarge) {
    return {};
  }
  return TextFileToCp850(bytes);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return UpperAscii(x) == UpperAscii(y);
         });
}

// The built-in viewer of a help file of fixed-length lines.
class HelpViewer {
 public:
  HelpViewer(std::string_view subject, std::string bytes)
      : subject_(subject),
        bytes_(std::move(bytes)),
        top_(4),
        left_(1),
        bottom_(ScreenRows() - 3),
        right_(ScreenColumns()),
        visible_(bottom_ - top_ - 1),
        line_length_(ScreenColumns()),
        lines_(HelpLineCount(bytes_.size(), line_length_)) {}

  void Run() {
    if (visible_ < 1 || right_ < 3) return;  // no room for a text row
    SetColour("+h");
    const int16_t depth = WindowDepth();
    PushWindow(static_cast<int16_t>(top_), static_cast<int16_t>(left_),
               static_cast<int16_t>(bottom_), static_cast<int16_t>(right_));
    if (WindowDepth() == depth) {
      SetColour("-");
      return;
    }
    DrawWindowFrame(2);
    SetColour("n");
    ShowPage(1);
    next_ = visible_ + 1;
    while (HandleKey(WaitRawKey())) {
    }
    PopWindow();
    SetColour("-");
  }

 private:
  // Acts on one key; false when the viewer closes.
  bool HandleKey(KeyCode key) {
    const long v = visible_;
    switch (key) {
      case key::kF1:
        if (!SameIgnoringCase(subject_, "QAVIMENU")) ShowHelp("QAVIMENU");
        break;
      case key::kDown:
        if (next_ <= lines_) {
          Scroll(1);
          ShowLine(next_, v);
          ++next_;
        }
        break;
      case key::kUp:
        if (next_ - v > 1) {
          --next_;
          Scroll(-1);
          ShowLine(next_ - v, 1);
        }
        break;
      case key::kPgDn:
        if (next_ <= lines_) {
          Scroll(v);
          if (next_ + v - 1 > lines_) next_ = FirstOfLastPage();
          ShowPage(next_);
          next_ += v;
        }
        break;
      case key::kPgUp:
        if (next_ - v - 1 > 0) {
          Scroll(v);
          if (next_ - 2 * v < 1) next_ = 2 * v;
          ShowPage(next_ - 2 * v + 1);
          next_ = next_ - v + 1;
        }
        break;
      case key::kHome:
        if (next_ - v - 1 > 0) {
          Scroll(v);
          ShowPage(1);
          next_ = v + 1;
        }
        break;
      case key::kEnd:
        if (next_ <= lines_) {
          Scroll(v);
          next_ = FirstOfLastPage();
          ShowPage(next_);
          next_ += v;
        }
        break;
      case key::kEsc:
        return false;
      default:
        break;
    }
    return true;
  }

  // The first line of the page that ends with the last line; never before
  // line 1, even for a file shorter than a page.
  long FirstOfLastPage() const {
    return std::max<long>(1, lines_ - visible_ + 1);
  }

  // Scrolls the window's interior; freed rows take the normal colour.
  void Scroll(long lines) {
    SetColour("n");
    ScrollRegion(static_cast<int16_t>(top_), static_cast<int16_t>(left_),
                 static_cast<int16_t>(bottom_ - 2),
                 static_cast<int16_t>(right_ - 2), static_cast<int16_t>(lines));
  }

  void ShowPage(long first) {
    for (long r = 1; r <= visible_; ++r) ShowLine(first + r - 1, r);
  }

  void ShowLine(long line, long row) {
    SetColour("n");
    if (line < 1 || line > lines_) return;
    LocateInWindow(static_cast<int16_t>(row), 2);
    for (const HelpSegment& segment :
         HelpLineSegments(HelpFileLine(bytes_, line_length_, line))) {
      SetColour(std::string(1, segment.attribute));
      WriteText(segment.text);
    }
    SetColour("n");
  }

  std::string subject_;
  std::string bytes_;
  int top_, left_, bottom_, right_;
  long visible_;
  int line_length_;
  long lines_;
  long next_ = 1;
};

// Says that a subject has no help file and waits for a key.
void ShowNoHelp(std::string_view subject) {
  const bool shown = MessageBox(12, NoHelpMessage(subject));
  Con().Beep();
  WaitRawKey();
  if (shown) PopWindow();
}

void RunHelpCommand(std::string_view subject) {
  const std::string interpreter = platform::GetEnv("COMSPEC");
  if (interpreter.empty()) return;  // no command interpreter to hand it to
  const std::vector<std::string> arguments = {
      "/C", "ZOPRUN",
      Session().root_dir + "AJUDA\\" + std::string(subject) + ".HTM"};
  Con().Suspend();
  platform::RunProgram(interpreter, arguments);
  Con().Resume();
}

}  // namespace

std::vector<std::string> FormatParagraphLines(std::string_view text, int indent,
                                              int width,
                                              std::string_view alignment) {
  const char align = alignment.empty() ? ' ' : UpperAscii(alignment[0]);
  const long n = static_cast<long>(text.size());
  std::vector<std::string> lines;
  long p = 0;
  bool first = true;
  while (p < n) {
    const long line_indent =
        first ? std::max(indent, 0)
              : (indent < 0 ? -static_cast<long>(indent) : 0);
    first = false;
    // Columns for text; at least one, so that every line takes something.
    long a = std::max<long>(static_cast<long>(width) - line_indent, 1);

    long b = 0;
    while (b < a && p + b < n) {
      if (IsControl(text[p + b])) ++a;
      ++b;
    }
    if (b > 0 && text[p + b - 1] != ' ') {
      while (p + b < n && IsControl(text[p + b])) {
        ++a;
        ++b;
      }
    }
    const long taken = b;
    const long taken_columns = a;

    // Do not cut a word: go back to the blank before it.
    if (p + b < n && IsVisible(text[p + b])) {
      while (b > 0 && text[p + b] != ' ') {
        if (IsControl(text[p + b])) --a;
        --b;
      }
    }
    if (p + b >= n || IsControl(text[p + b])) {
      while (b > 0 && text[p + b - 1] == ' ') --b;
    }
    if (b < 1) {  // one word wider than the line: cut it
      b = taken;
      a = taken_columns;
    }

    std::string line(static_cast<size_t>(line_indent), ' ');
    line.append(text.substr(static_cast<size_t>(p), static_cast<size_t>(b)));
    p += b;
    long rest = p;
    while (rest < n && text[rest] == ' ') ++rest;
    const bool last_line = rest >= n;
    lines.push_back(Align(std::move(line), static_cast<size_t>(line_indent),
                          static_cast<size_t>(a + line_indent), align,
                          last_line));
    p = rest;
  }
  return lines;
}

void FormatParagraph(std::string& text, int16_t indent, int16_t width,
                     std::string_view alignment) {
  std::string joined;
  for (const std::string& line :
       FormatParagraphLines(text, indent, width, alignment)) {
    joined += line;
  }
  text = std::move(joined);
}

bool MessageBox(int16_t row, std::string_view text) {
  SetColour("+rh");
  const std::vector<std::string> lines = FormatParagraphLines(text, 0, 76, "i");
  const int n = static_cast<int>(lines.size());
  const int rows = ScreenRows();
  int top = std::max(1, row - (n + 1) / 2 - 2);
  int bottom = top + n + 1;
  if (bottom > rows) {
    bottom = rows;
    top = bottom - n - 1;
  }
  std::vector<size_t> lengths;
  size_t widest = 0;
  for (const std::string& line : lines) {
    const size_t end = line.find_last_not_of(' ');
    lengths.push_back(end == std::string::npos ? 0 : end + 1);
    widest = std::max(widest, lengths.back());
  }
  const int centre = ScreenColumns() / 2 + 1;
  const int w = static_cast<int>(widest);
  const int left = centre - (w + 1) / 2 - 2;
  const int right = centre + w / 2 + 1;

  const int16_t depth = WindowDepth();
  if (top >= 1) {
    PushWindow(static_cast<int16_t>(top), static_cast<int16_t>(left),
               static_cast<int16_t>(bottom), static_cast<int16_t>(right));
  }
  if (WindowDepth() == depth) {  // it did not fit on the screen
    SetColour("-");
    return false;
  }
  DrawWindowFrame(1);
  for (int i = 0; i < n; ++i) {
    LocateInWindow(static_cast<int16_t>(i + 1), 2);
    WriteText(std::string_view(lines[static_cast<size_t>(i)])
                  .substr(0, lengths[static_cast<size_t>(i)]));
  }
  SetColour("-");
  return true;
}

void ShowHelp(std::string_view subject) {
  if (Session().host_kind == "WIN") {
    RunHelpCommand(subject);
    return;
  }
  std::string bytes =
      subject.empty() ? std::string()
                      : ReadHelpFile("AJUDA\\" + std::string(subject) + ".HLP");
  if (bytes.empty()) {
    ShowNoHelp(subject);
    return;
  }
  HelpViewer viewer(subject, std::move(bytes));
  viewer.Run();
}

std::string NoHelpMessage(std::string_view subject) {
  const std::string name(subject);
  if (name.empty()) {
    constexpr PerLanguage<const char*> kNoEntry = {
        "NO HI HA AJUDA: LA SESSIÓ NO DIU L'ENTRADA DEL MENÚ (NomMenu)",
        "NO HAY AYUDA: LA SESIÓN NO INDICA LA ENTRADA DEL MENÚ (NomMenu)",
        "NON HAI AXUDA: A SESIÓN NON INDICA A ENTRADA DO MENÚ (NomMenu)",
        "NON I A AJUDA: ERA SESSION NON INDICA ERA ENTRADA DETH MENÚ "
        "(NomMenu)"};
    return Cp850(ForLanguage(kNoEntry, SessionLanguage()));
  }
  struct Parts {
    const char* before_subject;
    const char* before_file;
  };
  constexpr PerLanguage<Parts> kNoFile = {{
      {"NO HI HA AJUDA PER A ", ": FALTA EL FITXER "},
      {"NO HAY AYUDA PARA ", ": FALTA EL FICHERO "},
      {"NON HAI AXUDA PARA ", ": FALTA O FICHEIRO "},
      {"NON I A AJUDA TÀ ", ": MANCA ETH FICHÈR "},
  }};
  const Parts& parts = ForLanguage(kNoFile, SessionLanguage());
  return Cp850(parts.before_subject) + name + Cp850(parts.before_file) +
         "AJUDA\\" + name + ".HLP";
}

long HelpLineCount(size_t file_size, int line_length) {
  if (line_length < 1) return 0;
  const size_t length = static_cast<size_t>(line_length);
  size_t whole = file_size / length;
  const size_t rest = file_size % length;
  if (2 * rest > length || (2 * rest == length && whole % 2 == 1)) ++whole;
  return static_cast<long>(whole);
}

std::string HelpFileLine(std::string_view file_bytes, int line_length,
                         long line) {
  if (line_length < 1 || line < 1) return {};
  const size_t length = static_cast<size_t>(line_length);
  const size_t index = static_cast<size_t>(line - 1);
  if (index >= file_bytes.size() / length + 1) return {};
  const size_t start = index * length;
  if (start >= file_bytes.size()) return {};
  return std::string(file_bytes.substr(start, length));
}

std::vector<HelpSegment> HelpLineSegments(std::string_view line) {
  constexpr int kMaxVisible = 76;
  std::vector<HelpSegment> segments;
  char attribute = 'n';
  bool highlight = false;
  bool underline = false;
  bool reverse = false;
  int shown = 0;
  for (char c : line) {
    switch (static_cast<unsigned char>(c)) {
      case 30:
        highlight = !highlight;
        if (!underline) attribute = highlight ? 'h' : 'n';
        continue;
      case 31:
        underline = !underline;
        attribute = underline ? 'u' : 'n';
        continue;
      case 16:
        reverse = !reverse;
        attribute = reverse ? 'r' : 'n';
        continue;
      default:
        break;
    }
    if (++shown > kMaxVisible) break;
    if (segments.empty() || segments.back().attribute != attribute) {
      segments.push_back(HelpSegment{attribute, {}});
    }
    segments.back().text.push_back(c);
  }
  return segments;
}

}  // namespace tarnevos
