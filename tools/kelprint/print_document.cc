#include "kelprint/print_document.h"

#include <algorithm>
#include <charconv>

namespace tarnevos::kelprint {
namespace {

constexpr long long kHugeNumber = 1000000000;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A number item: optional blanks, an optional sign, digits, optional
// blanks. Values beyond kHugeNumber saturate.
std::optional<long long> ParseNumber(std::string_view item) {
  item = Trim(item);
  bool negative = false;
  if (!item.empty() && (item.front() == '-' || item.front() == '+')) {
    negative = item.front() == '-';
    item.remove_prefix(1);
  }
  if (item.empty()) return std::nullopt;
  long long value = 0;
  for (char c : item) {
    if (c < '0' || c > '9') return std::nullopt;
    value = std::min(value * 10 + (c - '0'), kHugeNumber);
  }
  return negative ? -value : value;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Arranges a text within its own cells as a justification code says.
std::string Justify(std::string_view text, char code) {
  if (code != 'D' && code != 'N' && code != 'C' && code != 'A') {
    return std::string(text);
  }
  size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string(text);
  size_t last = text.find_last_not_of(' ');
  std::string_view body = text.substr(first, last - first + 1);
  size_t spare = text.size() - body.size();
  size_t before = 0;
  if (code == 'D' || code == 'N') before = spare;
  if (code == 'C') before = spare / 2;
  std::string out(before, ' ');
  out += body;
  out.append(spare - before, ' ');
  return out;
}

std::string EnglishMessage(ProblemKind kind, long long value) {
  const std::string number = std::to_string(value);
  switch (kind) {
    case ProblemKind::kEmptyFile:
      return "the print file is empty";
    case ProblemKind::kNoLineEnd:
      return "the last line is cut short (no line end)";
    case ProblemKind::kNoDevice:
      return "the print file has no DEVICE line";
    case ProblemKind::kSecondDevice:
      return "a second DEVICE line is ignored";
    case ProblemKind::kEmptyLine:
      return "empty line";
    case ProblemKind::kUnknownCommand:
      return "unknown command";
    case ProblemKind::kPageLengthNotNumber:
      return "page length is not a number";
    case ProblemKind::kPageLengthBelowOne:
      return "page length below 1";
    case ProblemKind::kPageLengthTooLarge:
      return "page length too large; cut to " + number;
    case ProblemKind::kUnknownControl:
      return "unknown control code";
    case ProblemKind::kUnknownJustification:
      return "unknown justification code";
    case ProblemKind::kTextWithoutFeeds:
      return "text line without line feeds";
    case ProblemKind::kFeedsNotNumber:
      return "line feeds are not a number";
    case ProblemKind::kColumnNotNumber:
      return "column is not a number";
    case ProblemKind::kNegativeColumn:
      return "negative column";
    case ProblemKind::kTooManyPages:
      return "too many pages; the rest is dropped";
    case ProblemKind::kPageOverflow:
      return "the page overflows its " + number +
             " lines; continued on a new page";
    case ProblemKind::kColumnTooLarge:
      return "column beyond " + number + "; text dropped";
    case ProblemKind::kTextTooLong:
      return "text runs beyond column " + number + "; cut";
    case ProblemKind::kNegativeFeeds:
      return "negative line feeds";
    case ProblemKind::kFeedsTooLarge:
      return "line feeds too many; cut to " + number;
  }
  return "unknown problem";
}

class Reader {
 public:
  PrintDocument Read(std::string_view bytes) {
    if (bytes.empty()) {
      Report(0, ProblemKind::kEmptyFile);
      return std::move(doc_);
    }
    size_t pos = 0;
    int number = 0;
    while (pos < bytes.size()) {
      size_t end = bytes.find('\n', pos);
      bool complete = end != std::string_view::npos;
      if (!complete) end = bytes.size();
      std::string_view line = bytes.substr(pos, end - pos);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      ++number;
      if (!complete) {
        Report(number, ProblemKind::kNoLineEnd);
      }
      Command(number, line);
      pos = end + 1;
    }
    if (!doc_.has_device) Report(0, ProblemKind::kNoDevice);
    return std::move(doc_);
  }

 private:
  void Report(int line_number, ProblemKind kind, long long value = 0) {
    if (!doc_.first_problem) {
      doc_.first_problem =
          Problem{line_number, kind, value, EnglishMessage(kind, value)};
    }
    ++doc_.problem_count;
  }

  void Command(int number, std::string_view line) {
    if (StartsWith(line, "DEVICE")) {
      if (doc_.has_device) {
        Report(number, ProblemKind::kSecondDevice);
      } else {
        doc_.device = std::string(line.substr(6));
        doc_.has_device = true;
      }
    } else if (StartsWith(line, "PAGE")) {
      PageCommand(number, line.substr(4));
    } else if (StartsWith(line, "JUS")) {
      JustifyCommand(number, line.substr(3));
    } else if (StartsWith(line, "*")) {
      ControlCommand(number, line.substr(1));
    } else if (line.find(',') != std::string_view::npos) {
      TextCommand(number, line);
    } else if (Trim(line).empty()) {
      Report(number, ProblemKind::kEmptyLine);
    } else {
      Report(number, ProblemKind::kUnknownCommand);
    }
  }

  void PageCommand(int number, std::string_view item) {
    std::optional<long long> length = ParseNumber(item);
    int lines = kDefaultPageLength;
    if (!length) {
      Report(number, ProblemKind::kPageLengthNotNumber);
    } else if (*length < 1) {
      Report(number, ProblemKind::kPageLengthBelowOne);
    } else if (*length > kMaxPageLength) {
      Report(number, ProblemKind::kPageLengthTooLarge, kMaxPageLength);
      lines = kMaxPageLength;
    } else {
      lines = static_cast<int>(*length);
    }
    started_ = true;
    justification_ = 'E';
    NewPage(number, lines);
  }

  void ControlCommand(int number, std::string_view code) {
    if (code == "@e") {
      style_ = 0;
    } else if (code == "q") {
      style_ |= kCondensed;
    } else if (code == "i") {
      style_ ^= kItalic;
    } else {
      Report(number, ProblemKind::kUnknownControl);
    }
  }

  void JustifyCommand(int number, std::string_view code) {
    code = Trim(code);
    char letter = code.empty() ? ' ' : code.front();
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 32);
    if (letter == 'C' || letter == 'D' || letter == 'A' || letter == 'N' ||
        letter == 'E') {
      justification_ = letter;
    } else {
      Report(number, ProblemKind::kUnknownJustification);
      justification_ = 'E';
    }
  }

  void TextCommand(int number, std::string_view line) {
    size_t first = line.find(',');
    size_t last = line.rfind(',');
    std::string_view column_item = line.substr(0, first);
    std::string_view text;
    std::optional<long long> feeds = 0;
    if (last == first) {
      Report(number, ProblemKind::kTextWithoutFeeds);
      text = line.substr(first + 1);
    } else {
      text = line.substr(first + 1, last - first - 1);
      feeds = ParseNumber(line.substr(last + 1));
      if (!feeds) {
        Report(number, ProblemKind::kFeedsNotNumber);
        feeds = 0;
      }
    }
    std::optional<long long> column = ParseNumber(column_item);
    if (!column) {
      Report(number, ProblemKind::kColumnNotNumber);
      column = 0;
    } else if (*column < 0) {
      Report(number, ProblemKind::kNegativeColumn);
      column = 1;
    }
    Place(number, *column, text);
    Feed(number, *feeds);
  }

  Page& CurrentPage(int number) {
    if (!started_) {
      started_ = true;
      NewPage(number, kDefaultPageLength);
    }
    return ActivePage();
  }

  // Where placed text goes: the last page, or a page thrown away once the
  // document holds kMaxPages.
  Page& ActivePage() {
    return dropping_ || doc_.pages.empty() ? spare_page_ : doc_.pages.back();
  }

  void NewPage(int number, int length) {
    row_ = 0;
    cursor_ = 1;
    if (doc_.pages.size() >= static_cast<size_t>(kMaxPages)) {
      if (!dropping_) Report(number, ProblemKind::kTooManyPages);
      dropping_ = true;
      spare_page_ = Page{};
      spare_page_.length = length;
      return;
    }
    doc_.pages.push_back(Page{});
    doc_.pages.back().length = length;
  }

  void Place(int number, long long column, std::string_view text) {
    Page* page = &CurrentPage(number);
    if (row_ >= page->length) {
      Report(number, ProblemKind::kPageOverflow, page->length);
      int length = page->length;
      long long row = row_ % length;
      NewPage(number, length);
      row_ = static_cast<int>(row);
      page = &ActivePage();
    }
    long long start = column == 0 ? cursor_ : column;
    cursor_ =
        std::min(start + static_cast<long long>(text.size()), kHugeNumber);
    if (dropping_) return;
    if (start > kMaxLineWidth) {
      Report(number, ProblemKind::kColumnTooLarge, kMaxLineWidth);
      return;
    }
    std::string shown = Justify(text, justification_);
    size_t room = static_cast<size_t>(kMaxLineWidth - start + 1);
    if (shown.size() > room) {
      Report(number, ProblemKind::kTextTooLong, kMaxLineWidth);
      shown.resize(room);
    }
    if (page->rows.size() <= static_cast<size_t>(row_)) {
      page->rows.resize(static_cast<size_t>(row_) + 1);
    }
    PageRow& target = page->rows[static_cast<size_t>(row_)];
    size_t from = static_cast<size_t>(start - 1);
    if (target.text.size() < from + shown.size()) {
      target.text.resize(from + shown.size(), ' ');
      target.styles.resize(from + shown.size(), 0);
    }
    for (size_t i = 0; i < shown.size(); ++i) {
      auto byte = static_cast<unsigned char>(shown[i]);
      bool control = byte < 32 || byte == 127 || byte == 255;
      target.text[from + i] = control ? ' ' : shown[i];
      target.styles[from + i] = style_;
    }
  }

  void Feed(int number, long long feeds) {
    if (feeds < 0) {
      Report(number, ProblemKind::kNegativeFeeds);
      return;
    }
    if (feeds == 0) return;
    if (feeds > kMaxPageLength) {
      Report(number, ProblemKind::kFeedsTooLarge, kMaxPageLength);
      feeds = kMaxPageLength;
    }
    row_ += static_cast<int>(feeds);
    cursor_ = 1;
    justification_ = 'E';
  }

  PrintDocument doc_;
  bool started_ = false;   // a page has been started
  bool dropping_ = false;  // past kMaxPages: content goes to spare_page_
  Page spare_page_;
  int row_ = 0;           // 0-based row on the current page
  long long cursor_ = 1;  // column where a column-0 text starts
  uint8_t style_ = 0;
  char justification_ = 'E';
};

}  // namespace

int Page::Width() const {
  size_t width = 0;
  for (const PageRow& row : rows) width = std::max(width, row.text.size());
  return static_cast<int>(width);
}

int Page::Lines() const {
  return std::max(length, static_cast<int>(rows.size()));
}

std::string DocumentTitle(const PrintDocument& document) {
  if (document.pages.empty()) return "";
  const std::vector<PageRow>& rows = document.pages.front().rows;
  auto trimmed = [&](size_t row) { return Trim(rows[row].text); };
  auto is_rule = [&](size_t row) {
    std::string_view text = trimmed(row);
    return text.size() >= 3 &&
           text.find_first_not_of('=') == std::string_view::npos;
  };
  for (size_t rule = 1; rule < rows.size(); ++rule) {
    if (!is_rule(rule) || trimmed(rule - 1).empty()) continue;
    size_t first = rule - 1;
    while (first > 0 && !trimmed(first - 1).empty()) --first;
    return std::string(trimmed(first));
  }
  for (size_t row = 0; row < rows.size(); ++row) {
    if (!trimmed(row).empty() && !is_rule(row)) {
      return std::string(trimmed(row));
    }
  }
  return "";
}

std::string Problem::Describe() const {
  if (line_number <= 0) return message;
  return "line " + std::to_string(line_number) + ": " + message;
}

PrintDocument ReadPrintFile(std::string_view bytes) {
  return Reader().Read(bytes);
}

}  // namespace tarnevos::kelprint
