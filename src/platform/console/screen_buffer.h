#ifndef TARNEVOS_PLATFORM_CONSOLE_SCREEN_BUFFER_H_
#define TARNEVOS_PLATFORM_CONSOLE_SCREEN_BUFFER_H_

#include <string_view>
#include <vector>

#include "platform/console/console.h"

namespace tarnevos::platform {

inline bool operator==(const Cell& a, const Cell& b) {
  return a.character == b.character && a.colour == b.colour;
}

// A grid of cells with the console's drawing operations. Rows and columns
// are 1-based; everything outside the grid is clipped, so no caller can
// write out of range.
class ScreenBuffer {
 public:
  // Sizes below 1 count as 1.
  ScreenBuffer(int rows, int columns);

  int rows() const { return rows_; }
  int columns() const { return columns_; }

  // Writes CP850 bytes from (row, column); bytes falling outside the grid
  // (left, right, or a row out of range) are dropped.
  void Write(int row, int column, std::string_view text, unsigned char colour);
  // The cell at (row, column); a blank in colour 0x07 outside the grid.
  Cell At(int row, int column) const;
  void Set(int row, int column, Cell cell);
  // Fills the whole grid with one cell.
  void Fill(Cell cell);
  // Changes the grid's size (sizes below 1 count as 1); the cells of the
  // old grid that lie inside the new one keep their place, new cells are
  // blanks in colour 0x07.
  void Resize(int rows, int columns);
  // Scrolls the rectangle (clipped to the grid) up for lines > 0, down for
  // lines < 0; freed rows become blanks in `colour`. Moving by the whole
  // height or more blanks the rectangle.
  void Scroll(int top, int left, int bottom, int right, int lines,
              unsigned char colour);

  bool operator==(const ScreenBuffer& other) const = default;

 private:
  bool Inside(int row, int column) const {
    return row >= 1 && row <= rows_ && column >= 1 && column <= columns_;
  }
  size_t Index(int row, int column) const {
    return static_cast<size_t>(row - 1) * static_cast<size_t>(columns_) +
           static_cast<size_t>(column - 1);
  }

  int rows_;
  int columns_;
  std::vector<Cell> cells_;
};

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_CONSOLE_SCREEN_BUFFER_H_
