#include "keldades/csv_file.h"

#include <csv.h>

#include <memory>

namespace tarnevos::keldades {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kBlockSize = 1 << 16;

// Blanks are part of a field: the data's texts may start with them.
int NoBlanks(unsigned char) { return 0; }
int IsLineEnd(unsigned char c) { return c == '\r' || c == '\n'; }

// What libcsv's callbacks fill, and where the current record started.
struct Reading {
  const CsvRecordHandler* handle = nullptr;
  CsvRecord record;
  size_t line = 0;         // the physical line being fed
  size_t record_line = 0;  // where the pending record started; 0 none
  bool stopped = false;
  std::string error;
};

void OnField(void* data, size_t length, void* context) {
  auto& reading = *static_cast<Reading*>(context);
  if (reading.stopped) return;
  // With CSV_EMPTY_IS_NULL an empty unquoted field arrives as nullptr.
  reading.record.quoted.push_back(data != nullptr);
  reading.record.fields.emplace_back(
      data == nullptr ? "" : static_cast<const char*>(data), length);
}

void OnRecordEnd(int, void* context) {
  auto& reading = *static_cast<Reading*>(context);
  if (reading.stopped) return;
  reading.record.line =
      reading.record_line != 0 ? reading.record_line : reading.line;
  reading.record_line = 0;
  if (!(*reading.handle)(reading.record, reading.error)) reading.stopped = true;
  reading.record.fields.clear();
  reading.record.quoted.clear();
}

struct ParserDeleter {
  void operator()(csv_parser* parser) const {
    csv_free(parser);
    delete parser;
  }
};

// Feeds one physical line (with its line end) to the parser.
bool Feed(csv_parser& parser, std::string_view line, Reading& reading,
          std::string& error) {
  ++reading.line;
  const bool blank = line.find_first_not_of("\r\n") == std::string_view::npos;
  if (reading.record_line == 0 && !blank) reading.record_line = reading.line;
  const size_t parsed = csv_parse(&parser, line.data(), line.size(), OnField,
                                  OnRecordEnd, &reading);
  if (reading.stopped) {
    error = reading.error;
    return false;
  }
  if (parsed != line.size()) {
    error = "line " + std::to_string(reading.line) + ": " +
            (csv_error(&parser) == CSV_EPARSE
                 ? std::string("a quote stands inside an unquoted field or "
                               "right after a quoted one")
                 : std::string(csv_strerror(csv_error(&parser))));
    return false;
  }
  return true;
}

}  // namespace

char DetectSeparator(std::string_view header_line) {
  size_t semicolons = 0;
  size_t commas = 0;
  bool in_quotes = false;
  for (char c : header_line) {
    if (c == '"') in_quotes = !in_quotes;
    if (in_quotes) continue;
    if (c == ';') ++semicolons;
    if (c == ',') ++commas;
  }
  return semicolons > commas ? ';' : ',';
}

bool ReadCsv(std::istream& in, char& separator, const CsvRecordHandler& handle,
             std::string& error) {
  std::unique_ptr<csv_parser, ParserDeleter> parser(new csv_parser);
  if (csv_init(parser.get(), CSV_STRICT | CSV_STRICT_FINI | CSV_EMPTY_IS_NULL |
                                 CSV_APPEND_NULL) != 0) {
    error = "the CSV reader cannot start";
    return false;
  }
  csv_set_space_func(parser.get(), NoBlanks);
  csv_set_term_func(parser.get(), IsLineEnd);
  Reading reading;
  reading.handle = &handle;

  std::string pending;  // text not yet fed: an unfinished line
  std::string block(kBlockSize, '\0');
  bool first_block = true;
  bool separator_known = false;
  for (;;) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got == 0 && in.bad()) {
      error = "cannot be read";
      return false;
    }
    pending.append(block, 0, got);
    if (first_block && pending.size() >= kByteOrderMark.size()) {
      if (pending.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0) {
        pending.erase(0, kByteOrderMark.size());
      }
      first_block = false;
    }
    const bool at_end = got == 0;
    size_t start = 0;
    for (;;) {
      size_t end = pending.find_first_of("\r\n", start);
      if (end == std::string::npos) break;
      // CR LF stays one line end; a CR at the block's end waits for the
      // next block to tell.
      if (pending[end] == '\r') {
        if (end + 1 == pending.size() && !at_end) break;
        if (end + 1 < pending.size() && pending[end + 1] == '\n') ++end;
      }
      const std::string_view line(pending.data() + start, end + 1 - start);
      if (!separator_known &&
          line.find_first_not_of("\r\n") != std::string_view::npos) {
        separator = DetectSeparator(line);
        csv_set_delim(parser.get(), static_cast<unsigned char>(separator));
        separator_known = true;
      }
      if (!Feed(*parser, line, reading, error)) return false;
      start = end + 1;
    }
    pending.erase(0, start);
    if (at_end) break;
  }
  if (!pending.empty()) {
    if (!separator_known) {
      separator = DetectSeparator(pending);
      csv_set_delim(parser.get(), static_cast<unsigned char>(separator));
    }
    if (!Feed(*parser, pending, reading, error)) return false;
  }
  if (csv_fini(parser.get(), OnField, OnRecordEnd, &reading) != 0) {
    error = "line " + std::to_string(reading.record_line) +
            ": a quoted field is not closed";
    return false;
  }
  if (reading.stopped) {
    error = reading.error;
    return false;
  }
  return true;
}

}  // namespace tarnevos::keldades
