#ifndef TARNEVOS_TOOLS_KELPRINT_PDF_RENDERER_H_
#define TARNEVOS_TOOLS_KELPRINT_PDF_RENDERER_H_

#include <cstddef>
#include <functional>
#include <string>

#include "kelprint/paper.h"
#include "kelprint/print_document.h"

namespace tarnevos::kelprint {

// Where a page's grid goes on its sheet and how big it is drawn. Every
// printed page becomes one sheet of the paper, portrait or landscape,
// whichever lets its grid (at least kPaperColumns x its page length) use
// the larger type. The grid is centred, so opposite margins are equal, and
// no margin is narrower than kMinMargin.
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

// 10 mm: clear of what printers cannot print on.
inline constexpr double kMinMargin = 72.0 / 25.4 * 10;
// Line pitch as a multiple of the type size.
inline constexpr double kLineSpacing = 1.1;

// The layout of a grid of `columns` x `lines` (values below 1 count as 1)
// on `paper` for a monospaced face whose advance is `advance` em: cells of
// advance x kLineSpacing em, the largest type that fits inside the margins.
SheetLayout FitSheet(int columns, int lines, double advance,
                     const Paper& paper);

// What the PDF says about itself, and its paper.
struct PdfSettings {
  Paper paper = DefaultPaper();
  std::string title;    // UTF-8; empty: none
  std::string creator;  // UTF-8; empty: none
  // The document's creation and modification date, ISO 8601 in UTC
  // ("2026-10-31T09:30:00Z"); empty leaves it to cairo (the present time,
  // which makes every rendering differ).
  std::string date;
};

// The date form PdfSettings::date wants, for seconds since 1970 (UTC); ""
// for a time before the year 1 or after 9999.
std::string PdfDate(long long seconds);

// Receives the PDF's bytes in order; returns false when they could not be
// written, which makes the rendering fail.
using ByteSink = std::function<bool(const unsigned char* data, size_t size)>;

// Draws the document in DejaVu Sans Mono (or the system's monospaced face),
// one sheet per page, each character in its cell; italic cells in the
// oblique face. A document without pages gives one blank sheet. The same
// document and settings give the same bytes. Returns false and says why in
// `error` when cairo or the sink fails.
bool RenderPdf(const PrintDocument& document, const PdfSettings& settings,
               const ByteSink& sink, std::string& error);

// The same into a file (a native path), created or replaced. On failure
// `error` says why in English and `system_error` holds the system's error
// number when the system gave one (0 otherwise).
bool RenderPdfFile(const PrintDocument& document, const PdfSettings& settings,
                   const std::string& path, std::string& error,
                   int& system_error);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_PDF_RENDERER_H_
