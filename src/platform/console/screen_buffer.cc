#include "platform/console/screen_buffer.h"

#include <algorithm>
#include <utility>

namespace tarnevos::platform {

ScreenBuffer::ScreenBuffer(int rows, int columns)
    : rows_(std::max(rows, 1)),
      columns_(std::max(columns, 1)),
      cells_(static_cast<size_t>(rows_) * static_cast<size_t>(columns_)) {}

void ScreenBuffer::Write(int row, int column, std::string_view text,
                         unsigned char colour) {
  if (row < 1 || row > rows_) return;
  for (size_t i = 0; i < text.size(); ++i) {
    // Computed in long long so a huge column or text cannot overflow.
    long long target =
        static_cast<long long>(column) + static_cast<long long>(i);
    if (target > columns_) break;
    if (target < 1) continue;
    cells_[Index(row, static_cast<int>(target))] =
        Cell{static_cast<unsigned char>(text[i]), colour};
  }
}

Cell ScreenBuffer::At(int row, int column) const {
  if (!Inside(row, column)) return Cell{};
  return cells_[Index(row, column)];
}

void ScreenBuffer::Set(int row, int column, Cell cell) {
  if (Inside(row, column)) cells_[Index(row, column)] = cell;
}

void ScreenBuffer::Fill(Cell cell) {
  std::fill(cells_.begin(), cells_.end(), cell);
}

void ScreenBuffer::Resize(int rows, int columns) {
  rows = std::max(rows, 1);
  columns = std::max(columns, 1);
  if (rows == rows_ && columns == columns_) return;
  std::vector<Cell> cells(static_cast<size_t>(rows) *
                          static_cast<size_t>(columns));
  const int keep_rows = std::min(rows, rows_);
  const int keep_columns = std::min(columns, columns_);
  for (int r = 1; r <= keep_rows; ++r) {
    for (int c = 1; c <= keep_columns; ++c) {
      cells[static_cast<size_t>(r - 1) * static_cast<size_t>(columns) +
            static_cast<size_t>(c - 1)] = cells_[Index(r, c)];
    }
  }
  rows_ = rows;
  columns_ = columns;
  cells_ = std::move(cells);
}

void ScreenBuffer::Scroll(int top, int left, int bottom, int right, int lines,
                          unsigned char colour) {
  top = std::max(top, 1);
  left = std::max(left, 1);
  bottom = std::min(bottom, rows_);
  right = std::min(right, columns_);
  if (top > bottom || left > right || lines == 0) return;
  const int height = bottom - top + 1;
  const Cell blank{' ', colour};
  // Clamp first so negating cannot overflow.
  const int shift = std::clamp(lines, -height, height);
  const int distance = shift < 0 ? -shift : shift;
  auto copy_row = [&](int to, int from) {
    for (int c = left; c <= right; ++c)
      cells_[Index(to, c)] = cells_[Index(from, c)];
  };
  auto blank_row = [&](int row) {
    for (int c = left; c <= right; ++c) cells_[Index(row, c)] = blank;
  };
  if (shift > 0) {
    for (int r = top; r <= bottom - distance; ++r) copy_row(r, r + distance);
    for (int r = bottom - distance + 1; r <= bottom; ++r) blank_row(r);
  } else {
    for (int r = bottom; r >= top + distance; --r) copy_row(r, r - distance);
    for (int r = top; r < top + distance; ++r) blank_row(r);
  }
}

}  // namespace tarnevos::platform
