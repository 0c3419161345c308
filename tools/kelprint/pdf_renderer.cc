#include "kelprint/pdf_renderer.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "util/codepage.h"

namespace tarnevos::kelprint {
namespace {

constexpr double kA4Short = 595.276;  // points
constexpr double kA4Long = 841.890;
constexpr double kMargin = 22.0;
// Line pitch as a multiple of the type size, at the least.
constexpr double kLineSpacing = 1.1;
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
// a write error on to the surface's status).
struct SinkState {
  const ByteSink* sink;
  bool failed = false;
};

cairo_status_t WriteToSink(void* closure, const unsigned char* data,
                           unsigned int length) {
  auto* state = static_cast<SinkState*>(closure);
  if (state->failed || !(*state->sink)(data, length)) {
    state->failed = true;
    return CAIRO_STATUS_WRITE_ERROR;
  }
  return CAIRO_STATUS_SUCCESS;
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

}  // namespace

SheetLayout FitSheet(int columns, int lines, double advance) {
  columns = std::max(columns, 1);
  lines = std::max(lines, 1);
  SheetLayout best;
  for (bool landscape : {false, true}) {
    SheetLayout layout;
    layout.landscape = landscape;
    layout.width = landscape ? kA4Long : kA4Short;
    layout.height = landscape ? kA4Short : kA4Long;
    double usable_width = layout.width - 2 * kMargin;
    double usable_height = layout.height - 2 * kMargin;
    layout.font_size = std::min(usable_width / columns / advance,
                                usable_height / lines / kLineSpacing);
    layout.pitch = layout.font_size * advance;
    layout.line = usable_height / lines;
    layout.left = kMargin + (usable_width - layout.pitch * columns) / 2;
    layout.top = kMargin;
    if (layout.font_size > best.font_size) best = layout;
  }
  return best;
}

bool RenderPdf(const PrintDocument& document, const ByteSink& sink,
               std::string& error) {
  SinkState sink_state{&sink};
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_pdf_surface_create_for_stream(WriteToSink, &sink_state, kA4Long,
                                          kA4Short));
  std::unique_ptr<cairo_t, ContextDeleter> context(cairo_create(surface.get()));
  cairo_t* cr = context.get();
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR,
                                 "KELPRINT");
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
    SheetLayout layout =
        FitSheet(std::max(kPaperColumns, page.Width()), page.Lines(), advance);
    cairo_pdf_surface_set_size(surface.get(), layout.width, layout.height);
    cairo_set_source_rgb(cr, 0, 0, 0);
    DrawPage(cr, page, layout, faces);
    cairo_show_page(cr);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) break;
  }
  cairo_status_t status = cairo_status(cr);
  context.reset();
  cairo_surface_finish(surface.get());
  if (status == CAIRO_STATUS_SUCCESS)
    status = cairo_surface_status(surface.get());
  if (status != CAIRO_STATUS_SUCCESS) {
    error = cairo_status_to_string(status);
    return false;
  }
  return true;
}

bool RenderPdfFile(const PrintDocument& document, const std::string& path,
                   std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  int write_errno = 0;
  ByteSink sink = [&](const unsigned char* data, size_t size) {
    if (std::fwrite(data, 1, size, file) == size) return true;
    write_errno = errno;
    return false;
  };
  bool ok = RenderPdf(document, sink, error);
  if (std::fclose(file) != 0 && ok) {
    write_errno = errno;
    ok = false;
  }
  if (write_errno != 0) ok = false;
  if (!ok && write_errno != 0) error = std::strerror(write_errno);
  return ok;
}

}  // namespace tarnevos::kelprint
