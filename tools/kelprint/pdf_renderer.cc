#include "kelprint/pdf_renderer.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "kelprint/pdf_dates.h"
#include "util/codepage.h"

namespace tarnevos::kelprint {
namespace {

// Baseline below the top of a line, in em.
constexpr double kBaseline = 0.8;
constexpr const char* kFontFamily = "DejaVu Sans Mono";

// Glyph of every CP850 byte in one face (0: nothing drawn).
using GlyphTable = std::array<unsigned long, 256>;

struct Face {
  cairo_font_slant_t slant;
  GlyphTable glyphs{};
  bool ready = false;
};

// Looks up the glyphs of the current face of `cr` once.
void PrepareGlyphs(cairo_t* cr, Face& face) {
  if (face.ready) return;
  face.ready = true;
  cairo_scaled_font_t* font = cairo_get_scaled_font(cr);
  for (int byte = 33; byte < 255; ++byte) {
    if (byte == 127) continue;
    std::string utf8 = Utf8FromCp850(std::string(1, static_cast<char>(byte)));
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(
            font, 0, 0, utf8.data(), static_cast<int>(utf8.size()), &glyphs,
            &count, nullptr, nullptr, nullptr) == CAIRO_STATUS_SUCCESS &&
        count == 1) {
      face.glyphs[static_cast<size_t>(byte)] = glyphs[0].index;
    }
    cairo_glyph_free(glyphs);
  }
}

void SelectFace(cairo_t* cr, const Face& face, double size) {
  cairo_select_font_face(cr, kFontFamily, face.slant, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

// Advance of the face's characters in em.
double MeasureAdvance(cairo_t* cr) {
  Face regular{CAIRO_FONT_SLANT_NORMAL};
  SelectFace(cr, regular, 100.0);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, "0", &extents);
  double advance = extents.x_advance / 100.0;
  return advance > 0.1 && advance < 2.0 ? advance : 0.6;
}

void DrawPage(cairo_t* cr, const Page& page, const SheetLayout& layout,
              std::array<Face, 2>& faces) {
  for (size_t which = 0; which < faces.size(); ++which) {
    const uint8_t italic = which == 1 ? kItalic : 0;
    std::vector<cairo_glyph_t> glyphs;
    SelectFace(cr, faces[which], layout.font_size);
    PrepareGlyphs(cr, faces[which]);
    for (size_t r = 0; r < page.rows.size(); ++r) {
      const PageRow& row = page.rows[r];
      double y = layout.top + static_cast<double>(r) * layout.line +
                 kBaseline * layout.font_size;
      for (size_t c = 0; c < row.text.size(); ++c) {
        if ((row.styles[c] & kItalic) != italic) continue;
        unsigned long glyph =
            faces[which].glyphs[static_cast<unsigned char>(row.text[c])];
        if (glyph == 0) continue;
        glyphs.push_back(
            {glyph, layout.left + static_cast<double>(c) * layout.pitch, y});
      }
    }
    if (!glyphs.empty()) {
      cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
    }
  }
}

// The sink and whether it ever refused bytes (cairo does not always pass
// a write error on to the surface's status). While `holding`, bytes are
// kept back in `held` (the document's end, whose dates are mended before
// it goes on); `passed` counts the bytes handed on before.
struct SinkState {
  const ByteSink* sink;
  bool failed = false;
  bool holding = false;
  std::string held;
  long long passed = 0;

  bool Pass(const unsigned char* data, size_t length) {
    if (failed || !(*sink)(data, length)) failed = true;
    passed += static_cast<long long>(length);
    return !failed;
  }
};

cairo_status_t WriteToSink(void* closure, const unsigned char* data,
                           unsigned int length) {
  auto* state = static_cast<SinkState*>(closure);
  if (state->holding && !state->failed) {
    state->held.append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
  }
  return state->Pass(data, length) ? CAIRO_STATUS_SUCCESS
                                   : CAIRO_STATUS_WRITE_ERROR;
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// The document's information. cairo stamps the present time unless it is
// given a date, so the date is always set when the settings have one.
void SetMetadata(cairo_surface_t* surface, const PdfSettings& settings) {
  const std::pair<cairo_pdf_metadata_t, const std::string*> entries[] = {
      {CAIRO_PDF_METADATA_TITLE, &settings.title},
      {CAIRO_PDF_METADATA_CREATOR, &settings.creator},
      {CAIRO_PDF_METADATA_CREATE_DATE, &settings.date},
      {CAIRO_PDF_METADATA_MOD_DATE, &settings.date},
  };
  for (const auto& [key, value] : entries) {
    if (!value->empty()) {
      cairo_pdf_surface_set_metadata(surface, key, value->c_str());
    }
  }
}

}  // namespace

SheetLayout FitSheet(int columns, int lines, double advance,
                     const Paper& paper) {
  columns = std::max(columns, 1);
  lines = std::max(lines, 1);
  SheetLayout best;
  for (bool landscape : {false, true}) {
    SheetLayout layout;
    layout.landscape = landscape;
    const double short_side = std::min(paper.width, paper.height);
    const double long_side = std::max(paper.width, paper.height);
    layout.width = landscape ? long_side : short_side;
    layout.height = landscape ? short_side : long_side;
    const double usable_width = std::max(layout.width - 2 * kMinMargin, 1.0);
    const double usable_height = std::max(layout.height - 2 * kMinMargin, 1.0);
    layout.font_size = std::min(usable_width / columns / advance,
                                usable_height / lines / kLineSpacing);
    layout.pitch = layout.font_size * advance;
    layout.line = layout.font_size * kLineSpacing;
    layout.left = (layout.width - layout.pitch * columns) / 2;
    layout.top = (layout.height - layout.line * lines) / 2;
    if (layout.font_size > best.font_size) best = layout;
  }
  return best;
}

std::string PdfDate(long long seconds) {
  // 0001-01-01 and 9999-12-31 23:59:59, in seconds since 1970.
  constexpr long long kFirst = -62135596800LL;
  constexpr long long kLast = 253402300799LL;
  if (seconds < kFirst || seconds > kLast) return "";
  const time_t time = static_cast<time_t>(seconds);
  struct tm parts {};
  if (gmtime_r(&time, &parts) == nullptr) return "";
  char text[80];  // room for any int, though the years checked take 4
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ",
                parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

bool RenderPdf(const PrintDocument& document, const PdfSettings& settings,
               const ByteSink& sink, std::string& error) {
  SinkState sink_state{&sink};
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_pdf_surface_create_for_stream(WriteToSink, &sink_state,
                                          settings.paper.width,
                                          settings.paper.height));
  std::unique_ptr<cairo_t, ContextDeleter> context(cairo_create(surface.get()));
  cairo_t* cr = context.get();
  SetMetadata(surface.get(), settings);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);

  const double advance = MeasureAdvance(cr);
  std::array<Face, 2> faces{Face{CAIRO_FONT_SLANT_NORMAL},
                            Face{CAIRO_FONT_SLANT_OBLIQUE}};
  if (document.pages.empty()) {
    cairo_show_page(cr);
  }
  for (const Page& page : document.pages) {
    SheetLayout layout = FitSheet(std::max(kPaperColumns, page.Width()),
                                  page.Lines(), advance, settings.paper);
    cairo_pdf_surface_set_size(surface.get(), layout.width, layout.height);
    cairo_set_source_rgb(cr, 0, 0, 0);
    DrawPage(cr, page, layout, faces);
    cairo_show_page(cr);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) break;
  }
  cairo_status_t status = cairo_status(cr);
  context.reset();
  // The information dictionary, the cross-references and the trailer are
  // written when the document is finished.
  sink_state.holding = !settings.date.empty();
  cairo_surface_finish(surface.get());
  if (sink_state.holding) {
    sink_state.holding = false;
    AddPdfDatePrefixes(sink_state.held, sink_state.passed);
    if (!sink_state.Pass(
            reinterpret_cast<const unsigned char*>(sink_state.held.data()),
            sink_state.held.size())) {
      status = CAIRO_STATUS_WRITE_ERROR;
    }
  }
  if (status == CAIRO_STATUS_SUCCESS)
    status = cairo_surface_status(surface.get());
  if (status != CAIRO_STATUS_SUCCESS) {
    error = cairo_status_to_string(status);
    return false;
  }
  return true;
}

bool RenderPdfFile(const PrintDocument& document, const PdfSettings& settings,
                   const std::string& path, std::string& error,
                   int& system_error) {
  system_error = 0;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    system_error = errno;
    error = std::strerror(errno);
    return false;
  }
  int write_errno = 0;
  ByteSink sink = [&](const unsigned char* data, size_t size) {
    if (std::fwrite(data, 1, size, file) == size) return true;
    write_errno = errno;
    return false;
  };
  bool ok = RenderPdf(document, settings, sink, error);
  if (std::fclose(file) != 0 && ok) {
    write_errno = errno;
    ok = false;
  }
  if (write_errno != 0) ok = false;
  if (!ok && write_errno != 0) {
    system_error = write_errno;
    error = std::strerror(write_errno);
  }
  return ok;
}

}  // namespace tarnevos::kelprint
