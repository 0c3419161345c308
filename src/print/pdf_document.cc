#include "print/pdf_document.h"

#include <zlib.h>

#include <cmath>
#include <cstdio>

#include "util/codepage.h"

namespace tarnevos {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kDrainBytes = 64 * 1024;
constexpr int kCompressionLevel = 6;
// Entries of one bfchar block of a ToUnicode map (the format's limit).
constexpr int kCMapBlock = 100;

void AppendInt(std::string& out, int64_t value) {
  char digits[24];
  int n = 0;
  const bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value)
                                : static_cast<uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) out += '-';
  while (n > 0) out += digits[--n];
}

// A coordinate to the hundredth of a point, without trailing zeros.
void AppendNumber(std::string& out, double value) {
  const auto hundredths = static_cast<int64_t>(std::llround(value * 100.0));
  const int64_t whole = hundredths / 100;
  int64_t cents = hundredths % 100;
  if (hundredths < 0 && whole == 0) out += '-';
  AppendInt(out, whole);
  if (cents < 0) cents = -cents;
  if (cents != 0) {
    out += '.';
    out += static_cast<char>('0' + cents / 10);
    if (cents % 10 != 0) out += static_cast<char>('0' + cents % 10);
  }
}

void AppendHex16(std::string& out, uint32_t value) {
  out += kHexDigits[(value >> 12) & 0xF];
  out += kHexDigits[(value >> 8) & 0xF];
  out += kHexDigits[(value >> 4) & 0xF];
  out += kHexDigits[value & 0xF];
}

// A glyph's two-byte code inside a literal string: the bytes as they are,
// but for those a literal string gives a meaning of its own (line ends,
// parentheses, the backslash).
void AppendGlyphCode(std::string& out, uint16_t glyph) {
  for (const uint8_t byte :
       {static_cast<uint8_t>(glyph >> 8), static_cast<uint8_t>(glyph & 0xFF)}) {
    switch (byte) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '(':
      case ')':
      case '\\':
        out += '\\';
        out += static_cast<char>(byte);
        break;
      default:
        out += static_cast<char>(byte);
    }
  }
}

void AppendRef(std::string& out, int number) {
  AppendInt(out, number);
  out += " 0 R";
}

// A CP850 text as a PDF text string in UTF-16BE with its byte order mark.
std::string TextString(std::string_view cp850) {
  std::string out = "<FEFF";
  for (unsigned char byte : cp850) {
    char32_t code = byte < 32 || byte == 127 ? U' ' : GlyphOf(byte);
    if (code > 0xFFFF) code = U'?';
    AppendHex16(out, static_cast<uint32_t>(code));
  }
  out += '>';
  return out;
}

// A deflate stream kept from one page to the next: setting one up costs
// more than compressing a page's few kilobytes. Its window and hash table
// are sized for such pages; larger inputs (fonts) compress as well, only
// a little less tightly. The output depends on the bytes alone.
class Deflater {
 public:
  Deflater() {
    ready_ = deflateInit2(&stream_, kCompressionLevel, Z_DEFLATED, kWindowBits,
                          kMemoryLevel, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~Deflater() {
    if (ready_) deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // The bytes in the zlib format; "" when zlib failed.
  std::string Deflate(std::string_view bytes) {
    if (!ready_ || deflateReset(&stream_) != Z_OK) return {};
    std::string out(deflateBound(&stream_, static_cast<uLong>(bytes.size())),
                    '\0');
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream_.avail_in = static_cast<uInt>(bytes.size());
    stream_.next_out = reinterpret_cast<Bytef*>(out.data());
    stream_.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) return {};
    out.resize(out.size() - stream_.avail_out);
    return out;
  }

 private:
  static constexpr int kWindowBits = 13;  // 8 KiB
  static constexpr int kMemoryLevel = 5;
  z_stream stream_{};
  bool ready_ = false;
};

std::string Deflate(std::string_view bytes) {
  thread_local Deflater deflater;
  return deflater.Deflate(bytes);
}

uint64_t Fnv1a(std::string_view bytes, uint64_t hash) {
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

// Six capitals that name a subset (the format asks for a tag before the
// font's name), taken from the subset's own bytes so that they never vary.
std::string SubsetTag(std::string_view program) {
  uint64_t hash = Fnv1a(program, 0xcbf29ce484222325ULL);
  std::string tag;
  for (int i = 0; i < 6; ++i) {
    tag += static_cast<char>('A' + hash % 26);
    hash /= 26;
  }
  return tag;
}

std::string WidthsArray(const FontSubset& subset) {
  std::string widths = "[0 [";
  for (size_t i = 0; i < subset.advance.size(); ++i) {
    if (i != 0) widths += ' ';
    AppendInt(widths, subset.advance[i]);
  }
  widths += "]]";
  return widths;
}

std::string ToUnicodeMap(const FontSubset& subset) {
  std::vector<std::pair<size_t, char32_t>> pairs;
  for (size_t i = 0; i < subset.unicode.size(); ++i) {
    if (subset.unicode[i] != 0 && subset.unicode[i] <= 0xFFFF)
      pairs.emplace_back(i, subset.unicode[i]);
  }
  std::string map =
      "/CIDInit /ProcSet findresource begin\n"
      "12 dict begin\n"
      "begincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> "
      "def\n"
      "/CMapName /Adobe-Identity-UCS def\n"
      "/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  for (size_t at = 0; at < pairs.size(); at += kCMapBlock) {
    const size_t end = std::min(pairs.size(), at + kCMapBlock);
    AppendInt(map, static_cast<int64_t>(end - at));
    map += " beginbfchar\n";
    for (size_t i = at; i < end; ++i) {
      map += '<';
      AppendHex16(map, static_cast<uint32_t>(pairs[i].first));
      map += "> <";
      AppendHex16(map, static_cast<uint32_t>(pairs[i].second));
      map += ">\n";
    }
    map += "endbfchar\n";
  }
  map +=
      "endcmap\n"
      "CMapName currentdict /CMap defineresource pop\n"
      "end\n"
      "end\n";
  return map;
}

const char* FontResource(PdfFace face) {
  return face == PdfFace::kBold ? "/F2" : "/F1";
}

}  // namespace

// --- Fonts --------------------------------------------------------------

bool PdfFonts::Load(std::string_view regular_file, std::string_view bold_file,
                    std::string& error) {
  const std::string_view files[kPdfFaceCount] = {regular_file, bold_file};
  for (int i = 0; i < kPdfFaceCount; ++i) {
    Prepared& face = faces_[i];
    if (!SubsetFontForCp850(files[i], face.subset, error)) return false;
    face.base_name =
        SubsetTag(face.subset.program) + "+" + face.subset.postscript_name;
    face.program = Deflate(face.subset.program);
    face.widths = WidthsArray(face.subset);
    face.to_unicode = Deflate(ToUnicodeMap(face.subset));
    if (face.program.empty() || face.to_unicode.empty()) {
      error = "cannot compress the font";
      return false;
    }
  }
  return true;
}

double PdfFonts::Width(PdfFace face, double size,
                       std::string_view cp850) const {
  const FontSubset& subset = Face(face);
  int64_t thousandths = 0;
  for (unsigned char byte : cp850) {
    if (byte >= 32 && byte != 127) thousandths += subset.Advance(byte);
  }
  return static_cast<double>(thousandths) * size / 1000.0;
}

// --- Pages --------------------------------------------------------------

void PdfPage::Text(PdfFace face, double size, double x, double y,
                   std::string_view cp850) {
  const FontSubset& subset = fonts_.Face(face);
  content_ += "BT ";
  content_ += FontResource(face);
  content_ += ' ';
  AppendNumber(content_, size);
  content_ += " Tf ";
  AppendNumber(content_, x);
  content_ += ' ';
  AppendNumber(content_, y);
  content_ += " Td (";
  for (unsigned char byte : cp850) {
    if (byte < 32 || byte == 127) continue;
    AppendGlyphCode(content_, subset.glyph[byte]);
  }
  content_ += ") Tj ET\n";
}

void PdfPage::TextRight(PdfFace face, double size, double x, double y,
                        std::string_view cp850) {
  Text(face, size, x - fonts_.Width(face, size, cp850), y, cp850);
}

void PdfPage::Rule(double x1, double y1, double x2, double y2, double width) {
  AppendNumber(content_, width);
  content_ += " w ";
  AppendNumber(content_, x1);
  content_ += ' ';
  AppendNumber(content_, y1);
  content_ += " m ";
  AppendNumber(content_, x2);
  content_ += ' ';
  AppendNumber(content_, y2);
  content_ += " l S\n";
}

void PdfPage::Shade(double x, double y, double width, double height,
                    double grey) {
  AppendNumber(content_, grey);
  content_ += " g ";
  AppendNumber(content_, x);
  content_ += ' ';
  AppendNumber(content_, y);
  content_ += ' ';
  AppendNumber(content_, width);
  content_ += ' ';
  AppendNumber(content_, height);
  content_ += " re f 0 g\n";
}

PdfContent CompressPage(const PdfPage& page) {
  std::string deflated = Deflate(page.content());
  if (deflated.empty()) return {page.content(), false};
  return {std::move(deflated), true};
}

// --- Documents ----------------------------------------------------------

struct PdfWriter::OutlineEntry {
  int number = 0;
  std::string title;  // a PDF text string
  int parent = 0;
  int previous = 0;
  int page = 0;  // destination
  int first = 0;
  int last = 0;
  int count = 0;  // entries below it (shown closed)
};

PdfWriter::PdfWriter(const PdfFonts& fonts, const PdfInfo& info, PdfSink sink)
    : fonts_(fonts), sink_(std::move(sink)) {
  offsets_.push_back(0);  // object 0 is the head of the free list
  Emit("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  catalog_ = Allocate();
  pages_root_ = Allocate();
  outline_root_ = Allocate();
  information_ = Allocate();

  BeginObject(catalog_);
  std::string text = "<< /Type /Catalog /Pages ";
  AppendRef(text, pages_root_);
  text += " /Outlines ";
  AppendRef(text, outline_root_);
  text += " /PageMode /UseOutlines >>";
  Emit(text);
  EndObject();

  BeginObject(information_);
  text = "<< /Title " + TextString(info.title) + " /Producer (TARNEVOS)";
  if (!info.creation_date.empty()) {
    text += " /CreationDate (" + info.creation_date + ")";
  }
  text += " >>";
  Emit(text);
  EndObject();

  WriteFonts();
}

PdfWriter::~PdfWriter() = default;

int PdfWriter::Allocate() {
  offsets_.push_back(0);
  return static_cast<int>(offsets_.size() - 1);
}

void PdfWriter::BeginObject(int number) {
  offsets_[static_cast<size_t>(number)] = offset_ + buffer_.size();
  std::string head;
  AppendInt(head, number);
  head += " 0 obj\n";
  Emit(head);
}

void PdfWriter::EndObject() { Emit("\nendobj\n"); }

void PdfWriter::WriteObject(int number, std::string_view body) {
  BeginObject(number);
  Emit(body);
  EndObject();
}

void PdfWriter::WriteStream(int number, std::string_view dictionary_extra,
                            std::string_view bytes, bool deflated) {
  BeginObject(number);
  std::string head = "<< /Length ";
  AppendInt(head, static_cast<int64_t>(bytes.size()));
  if (deflated) head += " /Filter /FlateDecode";
  head += dictionary_extra;
  head += " >>\nstream\n";
  Emit(head);
  Emit(bytes);
  Emit("\nendstream");
  EndObject();
}

void PdfWriter::WriteFonts() {
  resources_ = Allocate();
  for (int i = 0; i < kPdfFaceCount; ++i) {
    const PdfFonts::Prepared& face = fonts_.faces_[i];
    const FontSubset& subset = face.subset;
    const int type0 = Allocate();
    const int descendant = Allocate();
    const int descriptor = Allocate();
    const int program = Allocate();
    const int to_unicode = Allocate();
    font_objects_[i] = type0;

    std::string text = "<< /Type /Font /Subtype /Type0 /BaseFont /" +
                       face.base_name +
                       " /Encoding /Identity-H /DescendantFonts [";
    AppendRef(text, descendant);
    text += "] /ToUnicode ";
    AppendRef(text, to_unicode);
    text += " >>";
    WriteObject(type0, text);

    text = "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /" +
           face.base_name +
           " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) "
           "/Supplement 0 >> /FontDescriptor ";
    AppendRef(text, descriptor);
    text += " /CIDToGIDMap /Identity /W " + face.widths + " >>";
    WriteObject(descendant, text);

    text = "<< /Type /FontDescriptor /FontName /" + face.base_name +
           " /Flags 4 /FontBBox [";
    for (size_t b = 0; b < subset.bbox.size(); ++b) {
      if (b != 0) text += ' ';
      AppendInt(text, subset.bbox[b]);
    }
    text += "] /ItalicAngle 0 /Ascent ";
    AppendInt(text, subset.ascent);
    text += " /Descent ";
    AppendInt(text, subset.descent);
    text += " /CapHeight ";
    AppendInt(text, subset.cap_height);
    text +=
        i == static_cast<int>(PdfFace::kBold) ? " /StemV 120" : " /StemV 80";
    text += " /FontFile2 ";
    AppendRef(text, program);
    text += " >>";
    WriteObject(descriptor, text);

    std::string length1 = " /Length1 ";
    AppendInt(length1, static_cast<int64_t>(subset.program.size()));
    WriteStream(program, length1, face.program);
    WriteStream(to_unicode, "", face.to_unicode);
  }
  std::string text = "<< /Font << /F1 ";
  AppendRef(text, font_objects_[0]);
  text += " /F2 ";
  AppendRef(text, font_objects_[1]);
  text += " >> /ProcSet [/PDF /Text] >>";
  WriteObject(resources_, text);
}

void PdfWriter::FlushEntry(OutlineEntry& entry, int next) {
  std::string text = "<< /Title " + entry.title + " /Parent ";
  AppendRef(text, entry.parent);
  if (entry.previous != 0) {
    text += " /Prev ";
    AppendRef(text, entry.previous);
  }
  if (next != 0) {
    text += " /Next ";
    AppendRef(text, next);
  }
  if (entry.first != 0) {
    text += " /First ";
    AppendRef(text, entry.first);
    text += " /Last ";
    AppendRef(text, entry.last);
    text += " /Count ";
    AppendInt(text, -entry.count);  // closed
  }
  if (entry.page != 0) {
    text += " /Dest [";
    AppendRef(text, entry.page);
    text += " /XYZ 0 ";
    AppendNumber(text, kA4Height);
    text += " 0]";
  }
  text += " >>";
  WriteObject(entry.number, text);
}

void PdfWriter::BeginSection(std::string_view title) {
  EndSection();
  sections_ = true;
  auto entry = std::make_unique<OutlineEntry>();
  entry->number = Allocate();
  entry->title = TextString(title);
  entry->parent = outline_root_;
  if (top_ != nullptr) {
    entry->previous = top_->number;
    FlushEntry(*top_, entry->number);
  } else {
    first_top_ = entry->number;
  }
  ++top_count_;
  top_ = std::move(entry);
  section_node_ = Allocate();
}

void PdfWriter::EndSection() {
  if (section_node_ == 0) return;
  if (child_ != nullptr) {
    FlushEntry(*child_, 0);
    child_.reset();
  }
  std::string text = "<< /Type /Pages /Parent ";
  AppendRef(text, pages_root_);
  text += " /Kids [";
  for (size_t i = 0; i < section_pages_.size(); ++i) {
    if (i != 0) text += ' ';
    AppendRef(text, section_pages_[i]);
  }
  text += "] /Count ";
  AppendInt(text, static_cast<int64_t>(section_pages_.size()));
  text += " >>";
  WriteObject(section_node_, text);
  root_kids_.push_back(section_node_);
  section_pages_.clear();
  section_node_ = 0;
}

int PdfWriter::AddShared(const PdfContent& content) {
  const int stream = Allocate();
  WriteStream(stream, "", content.bytes, content.deflated);
  return stream;
}

void PdfWriter::AddPage(const PdfContent& content,
                        std::string_view outline_title, int shared) {
  const int stream = Allocate();
  const int page = Allocate();
  WriteStream(stream, "", content.bytes, content.deflated);

  const int parent = section_node_ != 0 ? section_node_ : pages_root_;
  std::string text = "<< /Type /Page /Parent ";
  AppendRef(text, parent);
  text += " /MediaBox [0 0 ";
  AppendNumber(text, kA4Width);
  text += ' ';
  AppendNumber(text, kA4Height);
  text += "] /Resources ";
  AppendRef(text, resources_);
  text += " /Contents ";
  if (shared != 0) {
    text += '[';
    AppendRef(text, shared);
    text += ' ';
    AppendRef(text, stream);
    text += ']';
  } else {
    AppendRef(text, stream);
  }
  text += " >>";
  WriteObject(page, text);
  ++page_count_;
  if (section_node_ != 0) {
    section_pages_.push_back(page);
  } else {
    root_kids_.push_back(page);
  }

  auto entry = std::make_unique<OutlineEntry>();
  entry->number = Allocate();
  entry->title = TextString(outline_title);
  entry->page = page;
  if (top_ != nullptr && section_node_ != 0) {
    entry->parent = top_->number;
    if (top_->first == 0) {
      top_->first = entry->number;
      top_->page = page;
    }
    top_->last = entry->number;
    ++top_->count;
  } else {
    entry->parent = outline_root_;
    if (first_top_ == 0) first_top_ = entry->number;
    ++top_count_;
  }
  if (child_ != nullptr) {
    entry->previous = child_->number;
    FlushEntry(*child_, entry->number);
  }
  child_ = std::move(entry);
}

bool PdfWriter::Finish() {
  if (finished_) return !failed_;
  finished_ = true;
  int last_top = 0;
  if (sections_) {
    EndSection();
    if (top_ != nullptr) {
      last_top = top_->number;
      FlushEntry(*top_, 0);
    }
  } else if (child_ != nullptr) {
    last_top = child_->number;
    FlushEntry(*child_, 0);
  }

  std::string text = "<< /Type /Outlines";
  if (first_top_ != 0) {
    text += " /First ";
    AppendRef(text, first_top_);
    text += " /Last ";
    AppendRef(text, last_top);
  }
  text += " /Count ";
  AppendInt(text, top_count_);
  text += " >>";
  WriteObject(outline_root_, text);

  text = "<< /Type /Pages /Kids [";
  for (size_t i = 0; i < root_kids_.size(); ++i) {
    text += i % 10 == 0 ? "\n" : " ";
    AppendRef(text, root_kids_[i]);
  }
  text += "] /Count ";
  AppendInt(text, page_count_);
  text += " >>";
  WriteObject(pages_root_, text);

  // The cross-reference table: 20 bytes per object.
  const uint64_t table_at = offset_ + buffer_.size();
  text = "xref\n0 ";
  AppendInt(text, static_cast<int64_t>(offsets_.size()));
  text += "\n0000000000 65535 f\r\n";
  Emit(text);
  char entry[21];
  for (size_t i = 1; i < offsets_.size(); ++i) {
    std::snprintf(entry, sizeof entry, "%010llu 00000 n\r\n",
                  static_cast<unsigned long long>(offsets_[i]));
    Emit(std::string_view(entry, 20));
  }
  const uint64_t id =
      Fnv1a(std::to_string(table_at) + "/" + std::to_string(page_count_),
            0xcbf29ce484222325ULL);
  std::string hex;
  for (int shift = 60; shift >= 0; shift -= 4)
    hex += kHexDigits[(id >> shift) & 0xF];
  text = "trailer\n<< /Size ";
  AppendInt(text, static_cast<int64_t>(offsets_.size()));
  text += " /Root ";
  AppendRef(text, catalog_);
  text += " /Info ";
  AppendRef(text, information_);
  text += " /ID [<" + hex + hex + "> <" + hex + hex + ">] >>\nstartxref\n";
  AppendInt(text, static_cast<int64_t>(table_at));
  text += "\n%%EOF\n";
  Emit(text);
  Drain();
  return !failed_;
}

void PdfWriter::Emit(std::string_view bytes) {
  buffer_.append(bytes);
  if (buffer_.size() >= kDrainBytes) Drain();
}

void PdfWriter::Drain() {
  if (buffer_.empty()) return;
  if (!failed_ && !sink_(buffer_)) failed_ = true;
  offset_ += buffer_.size();
  buffer_.clear();
}

}  // namespace tarnevos
