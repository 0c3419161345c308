#ifndef TARNEVOS_TOOLS_KELDADES_CSV_FILE_H_
#define TARNEVOS_TOOLS_KELDADES_CSV_FILE_H_

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

// Comma-separated values as spreadsheet programs save them, read with
// libcsv: UTF-8 with or without a byte-order mark, RFC 4180 quoting (a
// quoted field may hold separators, doubled quotes and line ends), the
// separator ";" or "," taken from the header line, CR LF, LF or CR line
// ends. Fields are taken as written, blanks included.
namespace tarnevos::keldades {

struct CsvRecord {
  size_t line = 0;  // the line it starts on, from 1
  std::vector<std::string> fields;
  // Per field: true for a quoted field, so that "" (an empty text) can be
  // told from an empty cell.
  std::vector<bool> quoted;
};

// Called with each record in order; returning false stops the reading
// (the reader then returns false with `error` as the callback left it).
using CsvRecordHandler =
    std::function<bool(const CsvRecord& record, std::string& error)>;

// Reads records from `in` until its end. The first record is the header.
// `separator` is set from the header line before the first record is
// handed over. False with `error` ("line N: ...") on a malformed quote or
// a read failure; records before the fault were handed over.
bool ReadCsv(std::istream& in, char& separator, const CsvRecordHandler& handle,
             std::string& error);

// The separator of a header line: ";" when it holds more semicolons than
// commas outside quotes, else ",".
char DetectSeparator(std::string_view header_line);

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_CSV_FILE_H_
