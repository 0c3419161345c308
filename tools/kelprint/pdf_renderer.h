#ifndef TARNEVOS_TOOLS_KELPRINT_PDF_RENDERER_H_
#define TARNEVOS_TOOLS_KELPRINT_PDF_RENDERER_H_

#include <cstddef>
#include <functional>
#include <string>

#include "kelprint/print_document.h"

namespace tarnevos::kelprint {

// Where a page sheet goes and how big its character grid is drawn. Every
// printed page becomes one A4 sheet, portrait or landscape, whichever lets
// its grid (at least kPaperColumns x its page length) use the larger type.
struct SheetLayout {
  double width = 0;  // sheet size in points
  double height = 0;
  double font_size = 0;
  double pitch = 0;  // points per column
  double line = 0;   // points per line
  double left = 0;   // left edge of column 1
  double top = 0;    // top edge of line 1
  bool landscape = false;
};

// The layout of a grid of `columns` x `lines` (values below 1 count as 1)
// for a monospaced face whose advance is `advance` em.
SheetLayout FitSheet(int columns, int lines, double advance);

// Receives the PDF's bytes in order; returns false when they could not be
// written, which makes the rendering fail.
using ByteSink = std::function<bool(const unsigned char* data, size_t size)>;

// Draws the document in DejaVu Sans Mono (or the system's monospaced face),
// one sheet per page, each character in its cell; italic cells in the
// oblique face. A document without pages gives one blank sheet. Returns
// false and says why in `error` when cairo or the sink fails.
bool RenderPdf(const PrintDocument& document, const ByteSink& sink,
               std::string& error);

// The same into a file (a native path), created or replaced.
bool RenderPdfFile(const PrintDocument& document, const std::string& path,
                   std::string& error);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_PDF_RENDERER_H_
