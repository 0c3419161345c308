#ifndef TARNEVOS_TOOLS_KELPRINT_PREVIEW_H_
#define TARNEVOS_TOOLS_KELPRINT_PREVIEW_H_

#include <string>

#include "kelprint/print_document.h"
#include "platform/console/console.h"
#include "settings/language.h"

namespace tarnevos::kelprint {

// A full-screen viewer of the rendered pages. The page fills the console
// above a status line (page n/m, first line and column shown, key help);
// a notice (the first bad line of the print file, an unknown device) takes
// the line above the status line. The texts are in the given language. A
// console that changes size (a terminal window resized) is followed: the
// view is drawn again at the new size, keeping its page and position as
// far as they still apply. Keys: PgDn/Space and PgUp next and
// previous page, Home/End first and last page, Up/Down one line (crossing
// into the neighbour page at its edges), Left/Right sideways by
// kSidewaysStep columns, Esc or q to leave.
class Preview {
 public:
  static constexpr int kSidewaysStep = 10;

  // Neither the document nor the console is owned; both must outlive the
  // viewer. `notice` is CP850 (may be empty).
  Preview(const PrintDocument& document, platform::Console& console,
          std::string notice, Language language);
  Preview(const Preview&) = delete;
  Preview& operator=(const Preview&) = delete;

  // Shows the pages until Esc or q.
  void Run();

  // Acts on one input event; false when it asks to leave.
  bool HandleEvent(const platform::InputEvent& event);
  // Draws the current view and flushes the console.
  void Draw();
  // Draws again when the console's size changed since the last Draw;
  // false when it did not.
  bool FollowResize();

  int page() const { return page_; }  // 0-based
  int top() const { return top_; }    // first page line shown, 0-based
  int left() const { return left_; }  // first column shown, 0-based

 private:
  int PageCount() const;
  int SheetLines() const;    // lines of the current page's sheet
  int SheetColumns() const;  // columns of the current page's sheet
  int ViewRows() const;      // console rows that show the page
  int MaxTop() const;
  int MaxLeft() const;
  void GoToPage(int page, bool at_bottom);
  void DrawStatus();

  const PrintDocument& document_;
  platform::Console& console_;
  std::string notice_;
  Language language_;
  int drawn_rows_ = 0;  // the console's size at the last Draw
  int drawn_columns_ = 0;
  int page_ = 0;
  int top_ = 0;
  int left_ = 0;
};

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_PREVIEW_H_
