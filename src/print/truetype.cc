#include "print/truetype.h"

#include <algorithm>
#include <map>
#include <utility>

#include "util/codepage.h"

// TrueType files are big-endian throughout; the readers below check every
// offset against the file's size, so a damaged file gives an error, never a
// read outside it.
namespace tarnevos {
namespace {

constexpr uint32_t kTrueTypeVersion = 0x00010000;
constexpr uint32_t kAppleTrueType = 0x74727565;  // "true"
constexpr uint32_t kChecksumMagic = 0xB1B0AFBA;

// Composite glyph flags.
constexpr uint16_t kArgsAreWords = 0x0001;
constexpr uint16_t kHaveScale = 0x0008;
constexpr uint16_t kMoreComponents = 0x0020;
constexpr uint16_t kHaveXYScale = 0x0040;
constexpr uint16_t kHaveTwoByTwo = 0x0080;
constexpr uint16_t kHaveInstructions = 0x0100;

// A bounded view of a table: reads outside it give 0 and mark it bad.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  uint8_t U8(size_t at) {
    if (at >= bytes_.size()) return Fail();
    return static_cast<uint8_t>(bytes_[at]);
  }
  uint16_t U16(size_t at) {
    if (at > bytes_.size() || bytes_.size() - at < 2) return Fail();
    return static_cast<uint16_t>(U8(at) << 8 | U8(at + 1));
  }
  int16_t I16(size_t at) { return static_cast<int16_t>(U16(at)); }
  uint32_t U32(size_t at) {
    if (at > bytes_.size() || bytes_.size() - at < 4) return Fail();
    return static_cast<uint32_t>(U16(at)) << 16 | U16(at + 2);
  }
  // `length` bytes from `at`, or "" (and bad) when they are not all there.
  std::string_view Slice(size_t at, size_t length) {
    if (at > bytes_.size() || bytes_.size() - at < length) {
      Fail();
      return {};
    }
    return bytes_.substr(at, length);
  }
  size_t size() const { return bytes_.size(); }
  bool bad() const { return bad_; }

 private:
  uint8_t Fail() {
    bad_ = true;
    return 0;
  }
  std::string_view bytes_;
  bool bad_ = false;
};

void PutU16(std::string& out, uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}
void PutU32(std::string& out, uint32_t value) {
  PutU16(out, static_cast<uint16_t>(value >> 16));
  PutU16(out, static_cast<uint16_t>(value & 0xFFFF));
}
void SetU16(std::string& out, size_t at, uint16_t value) {
  out[at] = static_cast<char>(value >> 8);
  out[at + 1] = static_cast<char>(value & 0xFF);
}
void SetU32(std::string& out, size_t at, uint32_t value) {
  SetU16(out, at, static_cast<uint16_t>(value >> 16));
  SetU16(out, at + 2, static_cast<uint16_t>(value & 0xFFFF));
}

uint32_t Checksum(std::string_view table) {
  uint32_t sum = 0;
  for (size_t i = 0; i < table.size(); i += 4) {
    uint32_t word = 0;
    for (size_t j = 0; j < 4; ++j) {
      const uint8_t byte =
          i + j < table.size() ? static_cast<uint8_t>(table[i + j]) : 0;
      word = word << 8 | byte;
    }
    sum += word;
  }
  return sum;
}

uint32_t Tag(const char* name) {
  return static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 8 |
         static_cast<uint8_t>(name[3]);
}

// The font's tables by tag.
class Font {
 public:
  bool Open(std::string_view file, std::string& error) {
    Reader header(file);
    const uint32_t version = header.U32(0);
    if (header.bad()) return Error(error, "too short for a font");
    if (version == Tag("OTTO"))
      return Error(error, "PostScript outlines are not supported");
    if (version == Tag("ttcf"))
      return Error(error, "font collections are not supported");
    if (version != kTrueTypeVersion && version != kAppleTrueType)
      return Error(error, "not a TrueType font");
    const uint16_t count = header.U16(4);
    for (uint16_t i = 0; i < count; ++i) {
      const size_t record = 12 + 16 * static_cast<size_t>(i);
      const uint32_t tag = header.U32(record);
      const uint32_t offset = header.U32(record + 8);
      const uint32_t length = header.U32(record + 12);
      std::string_view bytes = header.Slice(offset, length);
      if (header.bad()) return Error(error, "a table lies outside the file");
      tables_[tag] = bytes;
    }
    for (const char* name :
         {"head", "hhea", "maxp", "hmtx", "loca", "glyf", "cmap"}) {
      if (!Has(name)) return Error(error, std::string("no ") + name + " table");
    }
    return true;
  }

  bool Has(const char* name) const { return tables_.count(Tag(name)) != 0; }
  std::string_view Table(const char* name) const {
    auto it = tables_.find(Tag(name));
    return it == tables_.end() ? std::string_view() : it->second;
  }

 private:
  static bool Error(std::string& error, std::string text) {
    error = std::move(text);
    return false;
  }
  std::map<uint32_t, std::string_view> tables_;
};

// Glyph of a character through a format 4 subtable at `at`.
uint16_t LookUpFormat4(Reader& cmap, size_t at, char32_t code) {
  if (code > 0xFFFF) return 0;
  const size_t segments = cmap.U16(at + 6) / 2;
  const size_t ends = at + 14;
  const size_t starts = ends + 2 * segments + 2;
  const size_t deltas = starts + 2 * segments;
  const size_t range_offsets = deltas + 2 * segments;
  for (size_t s = 0; s < segments && !cmap.bad(); ++s) {
    if (cmap.U16(ends + 2 * s) < code) continue;
    const uint16_t start = cmap.U16(starts + 2 * s);
    if (start > code) return 0;
    const uint16_t delta = cmap.U16(deltas + 2 * s);
    const size_t range_at = range_offsets + 2 * s;
    const uint16_t range = cmap.U16(range_at);
    if (range == 0) return static_cast<uint16_t>(code + delta);
    const uint16_t glyph = cmap.U16(range_at + range + 2 * (code - start));
    return glyph == 0 ? 0 : static_cast<uint16_t>(glyph + delta);
  }
  return 0;
}

// Glyph of a character through a format 12 subtable at `at`.
uint16_t LookUpFormat12(Reader& cmap, size_t at, char32_t code) {
  const uint32_t groups = cmap.U32(at + 12);
  for (uint32_t g = 0; g < groups && !cmap.bad(); ++g) {
    const size_t group = at + 16 + 12 * static_cast<size_t>(g);
    const uint32_t first = cmap.U32(group);
    const uint32_t last = cmap.U32(group + 4);
    if (code < first || code > last) continue;
    const uint32_t glyph = cmap.U32(group + 8) + (code - first);
    return glyph > 0xFFFF ? 0 : static_cast<uint16_t>(glyph);
  }
  return 0;
}

// The Unicode subtable of the character map: its offset and format, the
// full-repertoire one preferred.
bool FindUnicodeMap(Reader& cmap, size_t& at, uint16_t& format) {
  const uint16_t count = cmap.U16(2);
  int best = 0;
  for (uint16_t i = 0; i < count && !cmap.bad(); ++i) {
    const size_t record = 4 + 8 * static_cast<size_t>(i);
    const uint16_t platform = cmap.U16(record);
    const uint16_t encoding = cmap.U16(record + 2);
    const uint32_t offset = cmap.U32(record + 4);
    const uint16_t kind = cmap.U16(offset);
    if (kind != 4 && kind != 12) continue;
    int rank = 0;
    if (platform == 3 && encoding == 10) rank = 4;
    if (platform == 3 && encoding == 1) rank = 3;
    if (platform == 0) rank = kind == 12 ? 2 : 1;
    if (rank > best) {
      best = rank;
      at = offset;
      format = kind;
    }
  }
  return best > 0 && !cmap.bad();
}

// The PostScript name (name id 6), reduced to characters a PDF name may
// hold without escapes.
std::string PostScriptName(std::string_view table) {
  Reader name(table);
  const uint16_t count = name.U16(2);
  const uint16_t strings = name.U16(4);
  for (uint16_t i = 0; i < count && !name.bad(); ++i) {
    const size_t record = 6 + 12 * static_cast<size_t>(i);
    const uint16_t platform = name.U16(record);
    if (name.U16(record + 6) != 6 || (platform != 1 && platform != 3)) continue;
    std::string_view raw =
        name.Slice(static_cast<size_t>(strings) + name.U16(record + 10),
                   name.U16(record + 8));
    const size_t step = platform == 3 ? 2 : 1;
    std::string result;
    for (size_t c = step - 1; c < raw.size() && result.size() < 63; c += step) {
      const char ch = raw[c];
      const bool wide_high = step == 2 && raw[c - 1] != 0;
      if (!wide_high && ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                         (ch >= '0' && ch <= '9') || ch == '-' || ch == '_'))
        result += ch;
    }
    if (!result.empty()) return result;
  }
  return "Font";
}

class SubsetBuilder {
 public:
  SubsetBuilder(const Font& font, FontSubset& subset)
      : font_(font), subset_(subset) {}

  bool Build(std::string& error) {
    if (!ReadMetrics(error)) return false;
    if (!MapCharacters(error)) return false;
    if (!AddComponents(error)) return false;
    WriteProgram();
    return true;
  }

 private:
  bool ReadMetrics(std::string& error) {
    Reader head(font_.Table("head"));
    Reader hhea(font_.Table("hhea"));
    Reader maxp(font_.Table("maxp"));
    units_per_em_ = head.U16(18);
    long_offsets_ = head.I16(50) == 1;
    glyph_count_ = maxp.U16(4);
    metrics_count_ = hhea.U16(34);
    if (head.size() < 54 || hhea.size() < 36 || head.bad() || hhea.bad() ||
        maxp.bad()) {
      error = "head, hhea or maxp table too short";
      return false;
    }
    if (units_per_em_ < 16 || units_per_em_ > 16384) {
      error = "units per em outside 16..16384";
      return false;
    }
    if (glyph_count_ == 0 || metrics_count_ == 0 ||
        metrics_count_ > glyph_count_) {
      error = "inconsistent glyph and metrics counts";
      return false;
    }
    const size_t hmtx_size =
        4 * static_cast<size_t>(metrics_count_) +
        2 * static_cast<size_t>(glyph_count_ - metrics_count_);
    const size_t loca_size =
        (long_offsets_ ? 4 : 2) * (static_cast<size_t>(glyph_count_) + 1);
    if (font_.Table("hmtx").size() < hmtx_size ||
        font_.Table("loca").size() < loca_size) {
      error = "hmtx or loca table too short";
      return false;
    }
    subset_.bbox = {Scale(head.I16(36)), Scale(head.I16(38)),
                    Scale(head.I16(40)), Scale(head.I16(42))};
    subset_.ascent = Scale(hhea.I16(4));
    subset_.descent = Scale(hhea.I16(6));
    Reader os2(font_.Table("OS/2"));
    subset_.cap_height = os2.size() >= 90 && os2.U16(0) >= 2
                             ? Scale(os2.I16(88))
                             : subset_.ascent * 7 / 10;
    subset_.postscript_name = PostScriptName(font_.Table("name"));
    return true;
  }

  int Scale(int units) const {
    const long scaled = static_cast<long>(units) * 1000;
    const long half = units_per_em_ / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / units_per_em_
                                        : (scaled - half) / units_per_em_);
  }

  // The original glyph's outline bytes; "" for an empty glyph. False when
  // loca points outside glyf.
  bool GlyphBytes(uint16_t glyph, std::string_view& bytes) {
    Reader loca(font_.Table("loca"));
    const size_t start =
        long_offsets_ ? loca.U32(4 * glyph) : 2 * size_t{loca.U16(2 * glyph)};
    const size_t end = long_offsets_ ? loca.U32(4 * (glyph + 1))
                                     : 2 * size_t{loca.U16(2 * (glyph + 1))};
    std::string_view glyf = font_.Table("glyf");
    if (start > end || end > glyf.size()) return false;
    bytes = glyf.substr(start, end - start);
    return true;
  }

  uint16_t Add(uint16_t original) {
    auto [it, added] =
        new_index_.try_emplace(original, static_cast<uint16_t>(order_.size()));
    if (added) {
      order_.push_back(original);
      subset_.unicode.push_back(0);
    }
    return it->second;
  }

  bool MapCharacters(std::string& error) {
    Reader cmap(font_.Table("cmap"));
    size_t at = 0;
    uint16_t format = 0;
    if (!FindUnicodeMap(cmap, at, format)) {
      error = "no Unicode character map";
      return false;
    }
    Add(0);
    for (int byte = 32; byte < 256; ++byte) {
      if (byte == 127) continue;
      const char32_t code = GlyphOf(static_cast<unsigned char>(byte));
      uint16_t glyph = format == 4 ? LookUpFormat4(cmap, at, code)
                                   : LookUpFormat12(cmap, at, code);
      if (cmap.bad()) {
        error = "character map damaged";
        return false;
      }
      if (glyph == 0 || glyph >= glyph_count_) continue;
      const uint16_t index = Add(glyph);
      subset_.glyph[static_cast<size_t>(byte)] = index;
      if (subset_.unicode[index] == 0) subset_.unicode[index] = code;
      characters_.emplace(code, index);
    }
    return true;
  }

  // Visits the components of a composite glyph; false when it is damaged.
  template <typename Visit>
  bool ForEachComponent(std::string_view bytes, Visit visit) {
    Reader glyph(bytes);
    if (bytes.size() < 10 || glyph.I16(0) >= 0) return true;
    size_t at = 10;
    for (;;) {
      const uint16_t flags = glyph.U16(at);
      visit(at + 2, glyph.U16(at + 2));
      at += 4 + ((flags & kArgsAreWords) ? 4 : 2);
      if (flags & kHaveScale) at += 2;
      if (flags & kHaveXYScale) at += 4;
      if (flags & kHaveTwoByTwo) at += 8;
      if (glyph.bad() || at > bytes.size()) return false;
      if (!(flags & kMoreComponents)) return true;
    }
  }

  bool AddComponents(std::string& error) {
    for (size_t i = 0; i < order_.size(); ++i) {
      std::string_view bytes;
      bool ok = GlyphBytes(order_[i], bytes);
      ok = ok && ForEachComponent(bytes, [&](size_t, uint16_t component) {
             if (component < glyph_count_) Add(component);
           });
      if (!ok) {
        error = "glyph " + std::to_string(order_[i]) + " damaged";
        return false;
      }
    }
    if (order_.size() > 0xFFFF) {
      error = "too many glyphs";
      return false;
    }
    return true;
  }

  // A glyph without its hinting instructions, which a page at print
  // resolution does not need and which make up much of the face's size.
  // Damaged data (already refused by AddComponents for composites) is
  // copied as it is.
  std::string WithoutInstructions(std::string_view bytes) {
    Reader glyph(bytes);
    if (bytes.size() < 10) return std::string(bytes);
    const int16_t contours = glyph.I16(0);
    if (contours >= 0) {
      const size_t length_at = 10 + 2 * static_cast<size_t>(contours);
      const size_t instructions = glyph.U16(length_at);
      if (glyph.bad() || length_at + 2 + instructions > bytes.size())
        return std::string(bytes);
      std::string copy(bytes.substr(0, length_at));
      PutU16(copy, 0);
      copy += bytes.substr(length_at + 2 + instructions);
      return copy;
    }
    // Composite: the instructions follow the last component, whose flags
    // say they are there.
    size_t at = 10;
    size_t last_flags_at = 0;
    bool more = true;
    while (more) {
      const uint16_t flags = glyph.U16(at);
      last_flags_at = at;
      at += 4 + ((flags & kArgsAreWords) ? 4 : 2);
      if (flags & kHaveScale) at += 2;
      if (flags & kHaveXYScale) at += 4;
      if (flags & kHaveTwoByTwo) at += 8;
      if (glyph.bad() || at > bytes.size()) return std::string(bytes);
      more = (flags & kMoreComponents) != 0;
    }
    std::string copy(bytes.substr(0, at));
    const uint16_t flags = glyph.U16(last_flags_at);
    SetU16(copy, last_flags_at,
           static_cast<uint16_t>(flags & ~kHaveInstructions));
    return copy;
  }

  void WriteProgram() {
    Reader hmtx(font_.Table("hmtx"));
    std::string glyf;
    std::string loca;
    std::string metrics;
    for (uint16_t original : order_) {
      PutU32(loca, static_cast<uint32_t>(glyf.size()));
      std::string_view bytes;
      GlyphBytes(original, bytes);
      std::string copy = WithoutInstructions(bytes);
      ForEachComponent(copy, [&](size_t at, uint16_t component) {
        const auto it = new_index_.find(component);
        SetU16(copy, at, it == new_index_.end() ? 0 : it->second);
      });
      glyf += copy;
      glyf.resize((glyf.size() + 3) & ~size_t{3}, '\0');

      const size_t last = metrics_count_ - 1u;
      const uint16_t advance = hmtx.U16(4 * std::min<size_t>(original, last));
      const uint16_t side_bearing =
          original < metrics_count_
              ? hmtx.U16(4 * size_t{original} + 2)
              : hmtx.U16(4 * size_t{metrics_count_} +
                         2 * (size_t{original} - metrics_count_));
      PutU16(metrics, advance);
      PutU16(metrics, side_bearing);
      subset_.advance.push_back(static_cast<uint16_t>(Scale(advance)));
    }
    PutU32(loca, static_cast<uint32_t>(glyf.size()));

    const auto count = static_cast<uint16_t>(order_.size());
    std::string head(font_.Table("head"));
    SetU32(head, 8, 0);   // checksum adjustment, set below
    SetU16(head, 50, 1);  // long loca offsets
    std::string hhea(font_.Table("hhea"));
    SetU16(hhea, 34, count);
    std::string maxp(font_.Table("maxp"));
    SetU16(maxp, 4, count);

    std::map<uint32_t, std::string> tables;
    tables[Tag("head")] = head;
    tables[Tag("hhea")] = hhea;
    tables[Tag("maxp")] = maxp;
    tables[Tag("hmtx")] = metrics;
    tables[Tag("loca")] = loca;
    tables[Tag("glyf")] = glyf;
    tables[Tag("cmap")] = CharacterMap();
    tables[Tag("post")] = PostTable();
    if (font_.Has("OS/2"))
      tables[Tag("OS/2")] = std::string(font_.Table("OS/2"));
    subset_.program = Assemble(tables);
  }

  // A format 4 map from the characters to the subset's glyphs, one segment
  // per character.
  std::string CharacterMap() const {
    std::map<char32_t, uint16_t> codes;
    for (const auto& [code, glyph] : characters_) {
      if (code < 0xFFFF) codes.emplace(code, glyph);
    }
    const auto segments = static_cast<uint16_t>(codes.size() + 1);
    std::string table;
    PutU16(table, 4);                                         // format
    PutU16(table, static_cast<uint16_t>(16 + 8 * segments));  // length
    PutU16(table, 0);                                         // language
    PutU16(table, static_cast<uint16_t>(2 * segments));
    uint16_t power = 1;
    uint16_t selector = 0;
    while (power * 2 <= segments) {
      power = static_cast<uint16_t>(power * 2);
      ++selector;
    }
    PutU16(table, static_cast<uint16_t>(2 * power));
    PutU16(table, selector);
    PutU16(table, static_cast<uint16_t>(2 * segments - 2 * power));
    for (const auto& [code, glyph] : codes) PutU16(table, code);
    PutU16(table, 0xFFFF);
    PutU16(table, 0);  // reserved
    for (const auto& [code, glyph] : codes) PutU16(table, code);
    PutU16(table, 0xFFFF);
    for (const auto& [code, glyph] : codes)
      PutU16(table, static_cast<uint16_t>(glyph - code));
    PutU16(table, 1);
    for (uint16_t s = 0; s < segments; ++s) PutU16(table, 0);

    std::string cmap;
    PutU16(cmap, 0);  // version
    PutU16(cmap, 1);  // one subtable: Windows, Unicode BMP
    PutU16(cmap, 3);
    PutU16(cmap, 1);
    PutU32(cmap, 12);
    return cmap + table;
  }

  // Version 3: no glyph names; italic angle and underline from the font.
  std::string PostTable() const {
    std::string post(32, '\0');
    std::string_view original = font_.Table("post");
    if (original.size() >= 32) post.assign(original.substr(0, 32));
    SetU32(post, 0, 0x00030000);
    return post;
  }

  static std::string Assemble(const std::map<uint32_t, std::string>& tables) {
    const auto count = static_cast<uint16_t>(tables.size());
    uint16_t power = 1;
    uint16_t selector = 0;
    while (power * 2 <= count) {
      power = static_cast<uint16_t>(power * 2);
      ++selector;
    }
    std::string file;
    PutU32(file, kTrueTypeVersion);
    PutU16(file, count);
    PutU16(file, static_cast<uint16_t>(16 * power));
    PutU16(file, selector);
    PutU16(file, static_cast<uint16_t>(16 * count - 16 * power));
    size_t offset = 12 + 16 * static_cast<size_t>(count);
    size_t head_at = 0;
    for (const auto& [tag, bytes] : tables) {
      PutU32(file, tag);
      PutU32(file, Checksum(bytes));
      PutU32(file, static_cast<uint32_t>(offset));
      PutU32(file, static_cast<uint32_t>(bytes.size()));
      if (tag == Tag("head")) head_at = offset;
      offset += (bytes.size() + 3) & ~size_t{3};
    }
    for (const auto& [tag, bytes] : tables) {
      file += bytes;
      file.resize((file.size() + 3) & ~size_t{3}, '\0');
    }
    SetU32(file, head_at + 8, kChecksumMagic - Checksum(file));
    return file;
  }

  const Font& font_;
  FontSubset& subset_;
  uint16_t units_per_em_ = 0;
  bool long_offsets_ = false;
  uint16_t glyph_count_ = 0;
  uint16_t metrics_count_ = 0;
  std::vector<uint16_t> order_;  // subset glyph -> original glyph
  std::map<uint16_t, uint16_t> new_index_;
  std::map<char32_t, uint16_t> characters_;  // every character mapped
};

}  // namespace

bool SubsetFontForCp850(std::string_view font_file, FontSubset& subset,
                        std::string& error) {
  subset = FontSubset{};
  Font font;
  if (!font.Open(font_file, error)) return false;
  SubsetBuilder builder(font, subset);
  if (!builder.Build(error)) {
    subset = FontSubset{};
    return false;
  }
  return true;
}

}  // namespace tarnevos
