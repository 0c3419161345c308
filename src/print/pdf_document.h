#ifndef TARNEVOS_PRINT_PDF_DOCUMENT_H_
#define TARNEVOS_PRINT_PDF_DOCUMENT_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "print/truetype.h"

// A small PDF writer for documents of many similar pages: A4 portrait
// pages of text in two embedded faces, rules and shaded boxes, with an
// outline (bookmarks) of one or two levels. It writes as it goes: a page is
// put out when it is added and only the outline's current entries and the
// cross-reference offsets stay in memory, so a document of tens of
// thousands of pages takes little memory.
//
// Pages are drawn once into a PdfPage, compressed once (PdfContent) and can
// then be added to several documents: every document of a run embeds the
// same font subsets under the same resource names. What many pages have in
// common (a letterhead, a block of explanations) can be written once per
// document as shared content that each of those pages draws first.
//
// Output is reproducible: the same calls give the same bytes. Nothing in a
// document comes from the clock or the machine; the creation date is the
// caller's.
namespace tarnevos {

constexpr double kA4Width = 595.276;  // points
constexpr double kA4Height = 841.890;

// The faces a document can use.
enum class PdfFace { kRegular = 0, kBold = 1 };
constexpr int kPdfFaceCount = 2;

// The two faces of a run, subset for CP850 and ready to embed (built once).
class PdfFonts {
 public:
  // Reads and subsets the regular and bold TrueType files (their whole
  // contents). False with `error` when either is not a usable font.
  bool Load(std::string_view regular_file, std::string_view bold_file,
            std::string& error);

  const FontSubset& Face(PdfFace face) const {
    return faces_[static_cast<int>(face)].subset;
  }
  // Width of a CP850 text in points at the type size.
  double Width(PdfFace face, double size, std::string_view cp850) const;

 private:
  friend class PdfWriter;
  struct Prepared {
    FontSubset subset;
    std::string base_name;   // "ABCDEF+DejaVuSans"
    std::string program;     // compressed font file
    std::string widths;      // the /W array
    std::string to_unicode;  // compressed ToUnicode CMap
  };
  std::array<Prepared, kPdfFaceCount> faces_;
};

// The drawing of one page, in points from the bottom-left corner.
class PdfPage {
 public:
  explicit PdfPage(const PdfFonts& fonts) : fonts_(fonts) {}

  // A CP850 text starting at x on the baseline y. Control characters are
  // left out; characters the face lacks show as its missing glyph.
  void Text(PdfFace face, double size, double x, double y,
            std::string_view cp850);
  // The same text ending at x.
  void TextRight(PdfFace face, double size, double x, double y,
                 std::string_view cp850);
  // A straight line of the given width.
  void Rule(double x1, double y1, double x2, double y2, double width);
  // Draws another page's drawing (of the same fonts) on this one.
  void Append(const PdfPage& drawing) { content_ += drawing.content_; }
  // A rectangle filled with a grey (0 black .. 1 white).
  void Shade(double x, double y, double width, double height, double grey);

  const std::string& content() const { return content_; }
  const PdfFonts& fonts() const { return fonts_; }

 private:
  const PdfFonts& fonts_;
  std::string content_;
};

// A page's drawing compressed, ready to be added to documents; kept as it
// is in the rare case that zlib fails.
struct PdfContent {
  std::string bytes;
  bool deflated = false;
};
PdfContent CompressPage(const PdfPage& page);

// Document information.
struct PdfInfo {
  std::string title;          // CP850
  std::string creation_date;  // "D:YYYYMMDD000000Z", or "" for none
};

// Receives the document's bytes in order; false when they could not be
// taken (the document is then failed and writes nothing more).
using PdfSink = std::function<bool(std::string_view)>;

// One document being written. Pages are added either all inside sections
// (two outline levels: a section's entry, then one entry per page) or all
// outside them (one level). Not copyable.
class PdfWriter {
 public:
  PdfWriter(const PdfFonts& fonts, const PdfInfo& info, PdfSink sink);
  ~PdfWriter();
  PdfWriter(const PdfWriter&) = delete;
  PdfWriter& operator=(const PdfWriter&) = delete;

  // Starts a section whose outline entry has the CP850 title; its entry
  // opens on the section's first page. Ends the section before, if any.
  void BeginSection(std::string_view title);
  // Writes drawing that several pages share; returns its number for
  // AddPage.
  int AddShared(const PdfContent& content);
  // Adds a page with its outline entry (CP850 title): the shared drawing
  // (a number AddShared gave, or 0 for none), then the page's own.
  void AddPage(const PdfContent& content, std::string_view outline_title,
               int shared = 0);
  // Writes the page tree, the outline and the cross-reference table. The
  // document must have at least one page. Returns false when the sink
  // refused bytes at any time.
  bool Finish();

  int page_count() const { return page_count_; }
  bool failed() const { return failed_; }

 private:
  struct OutlineEntry;
  int Allocate();
  void BeginObject(int number);
  void EndObject();
  // An object whose whole body is `body` (a dictionary, a number).
  void WriteObject(int number, std::string_view body);
  void WriteStream(int number, std::string_view dictionary_extra,
                   std::string_view bytes, bool deflated = true);
  void WriteFonts();
  void FlushEntry(OutlineEntry& entry, int next);
  void EndSection();
  void Emit(std::string_view bytes);
  void Drain();

  const PdfFonts& fonts_;
  PdfSink sink_;
  std::string buffer_;
  uint64_t offset_ = 0;
  bool failed_ = false;
  bool finished_ = false;
  std::vector<uint64_t> offsets_;  // by object number; 0 = not yet written
  int catalog_ = 0;
  int information_ = 0;
  int pages_root_ = 0;
  int outline_root_ = 0;
  int resources_ = 0;
  int page_count_ = 0;
  std::array<int, kPdfFaceCount> font_objects_{};

  // The page tree: the root's kids (sections' nodes, or pages), and the
  // current section's node and pages.
  std::vector<int> root_kids_;
  bool sections_ = false;
  int section_node_ = 0;
  std::vector<int> section_pages_;

  // Entries are written once the next one's number is known.
  std::unique_ptr<OutlineEntry> top_;    // the last top-level entry
  std::unique_ptr<OutlineEntry> child_;  // the last entry of the section
  int first_top_ = 0;
  int top_count_ = 0;
};

}  // namespace tarnevos

#endif  // TARNEVOS_PRINT_PDF_DOCUMENT_H_
