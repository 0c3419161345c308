#include "kelprint/preview.h"

#include <algorithm>
#include <vector>

#include "kelprint/texts.h"

namespace tarnevos::kelprint {
namespace {

// PC colours: background in the high four bits.
constexpr unsigned char kPaper = 0x70;        // black on grey
constexpr unsigned char kPaperItalic = 0x71;  // blue on grey
constexpr unsigned char kOffPaper = 0x08;     // dark grey on black
constexpr unsigned char kStatus = 0x1F;       // white on blue
constexpr unsigned char kNotice = 0x4E;       // yellow on red
constexpr unsigned char kEmpty = 0x07;

constexpr int kEsc = 27;
constexpr int kHome = 0x4700, kUp = 0x4800, kPgUp = 0x4900, kLeft = 0x4B00,
              kRight = 0x4D00, kEnd = 0x4F00, kDown = 0x5000, kPgDn = 0x5100;

}  // namespace

Preview::Preview(const PrintDocument& document, platform::Console& console,
                 std::string notice, Language language)
    : document_(document),
      console_(console),
      notice_(std::move(notice)),
      language_(language) {}

int Preview::PageCount() const {
  return static_cast<int>(document_.pages.size());
}

int Preview::SheetLines() const {
  return PageCount() == 0 ? 0 : document_.pages[page_].Lines();
}

int Preview::SheetColumns() const {
  return PageCount() == 0
             ? 0
             : std::max(kPaperColumns, document_.pages[page_].Width());
}

int Preview::ViewRows() const {
  return std::max(1, console_.Rows() - (notice_.empty() ? 1 : 2));
}

int Preview::MaxTop() const { return std::max(0, SheetLines() - ViewRows()); }

int Preview::MaxLeft() const {
  return std::max(0, SheetColumns() - console_.Columns());
}

void Preview::GoToPage(int page, bool at_bottom) {
  page_ = std::clamp(page, 0, std::max(0, PageCount() - 1));
  top_ = at_bottom ? MaxTop() : 0;
  left_ = std::min(left_, MaxLeft());
}

bool Preview::HandleEvent(const platform::InputEvent& event) {
  if (event.kind != platform::InputEvent::Kind::kKey) return true;
  if (!event.extended) {
    switch (event.key) {
      case kEsc:
      case 'q':
      case 'Q':
        return false;
      case ' ':
        GoToPage(page_ + 1, false);
        break;
      default:
        break;
    }
    return true;
  }
  switch (event.key) {
    case kPgDn:
      GoToPage(page_ + 1, false);
      break;
    case kPgUp:
      GoToPage(page_ - 1, false);
      break;
    case kHome:
      GoToPage(0, false);
      break;
    case kEnd:
      GoToPage(PageCount() - 1, false);
      break;
    case kDown:
      if (top_ < MaxTop()) {
        ++top_;
      } else if (page_ + 1 < PageCount()) {
        GoToPage(page_ + 1, false);
      }
      break;
    case kUp:
      if (top_ > 0) {
        --top_;
      } else if (page_ > 0) {
        GoToPage(page_ - 1, true);
      }
      break;
    case kRight:
      left_ = std::min(left_ + kSidewaysStep, MaxLeft());
      break;
    case kLeft:
      left_ = std::max(left_ - kSidewaysStep, 0);
      break;
    default:
      break;
  }
  return true;
}

void Preview::Draw() {
  drawn_rows_ = console_.Rows();
  drawn_columns_ = console_.Columns();
  // A larger console shows more of the page: keep inside the new limits.
  top_ = std::min(top_, MaxTop());
  left_ = std::min(left_, MaxLeft());
  const int columns = console_.Columns();
  const int rows = ViewRows();
  const std::string blank_line(static_cast<size_t>(columns), ' ');
  if (PageCount() > 0) {
    const Page& page = document_.pages[page_];
    const int sheet_columns = SheetColumns();
    const int visible_columns = std::min(columns, sheet_columns - left_);
    for (int screen_row = 1; screen_row <= rows; ++screen_row) {
      int line = top_ + screen_row - 1;
      if (line >= SheetLines()) {
        console_.Write(screen_row, 1, blank_line, kOffPaper);
        continue;
      }
      std::string cells(static_cast<size_t>(visible_columns), ' ');
      std::vector<uint8_t> styles(cells.size(), 0);
      if (line < static_cast<int>(page.rows.size())) {
        const PageRow& row = page.rows[static_cast<size_t>(line)];
        for (size_t i = 0; i < cells.size(); ++i) {
          size_t source = static_cast<size_t>(left_) + i;
          if (source >= row.text.size()) break;
          cells[i] = row.text[source];
          styles[i] = row.styles[source];
        }
      }
      // Runs of one colour are written together.
      size_t start = 0;
      while (start < cells.size()) {
        bool italic = (styles[start] & kItalic) != 0;
        size_t end = start + 1;
        while (end < cells.size() && ((styles[end] & kItalic) != 0) == italic) {
          ++end;
        }
        console_.Write(screen_row, static_cast<int>(start) + 1,
                       std::string_view(cells).substr(start, end - start),
                       italic ? kPaperItalic : kPaper);
        start = end;
      }
      if (visible_columns < columns) {
        console_.Write(screen_row, visible_columns + 1,
                       blank_line.substr(
                           0, static_cast<size_t>(columns - visible_columns)),
                       kOffPaper);
      }
    }
  } else {
    for (int screen_row = 1; screen_row <= rows; ++screen_row) {
      console_.Write(screen_row, 1, blank_line, kEmpty);
    }
    console_.Write(1, 2, NoPagesText(language_), kEmpty);
  }
  DrawStatus();
  console_.Flush();
}

void Preview::DrawStatus() {
  const int columns = console_.Columns();
  auto fit = [columns](std::string text) {
    text.resize(static_cast<size_t>(columns), ' ');
    return text;
  };
  if (!notice_.empty()) {
    console_.Write(console_.Rows() - 1, 1, fit(" " + notice_), kNotice);
  }
  const std::string status =
      StatusLine(language_, PageCount() == 0 ? 0 : page_ + 1, PageCount(),
                 top_ + 1, left_ + 1);
  console_.Write(console_.Rows(), 1, fit(status), kStatus);
}

bool Preview::FollowResize() {
  if (console_.Rows() == drawn_rows_ && console_.Columns() == drawn_columns_) {
    return false;
  }
  Draw();
  return true;
}

void Preview::Run() {
  console_.SetCursorVisible(false);
  Draw();
  while (true) {
    platform::InputEvent event = console_.PollEvent();
    if (event.kind == platform::InputEvent::Kind::kNone) {
      if (!FollowResize()) console_.WaitForInput(200);
      continue;
    }
    if (!HandleEvent(event)) break;
    Draw();
  }
  console_.SetCursorVisible(true);
}

}  // namespace tarnevos::kelprint
