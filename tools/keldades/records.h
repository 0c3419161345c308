#ifndef TARNEVOS_TOOLS_KELDADES_RECORDS_H_
#define TARNEVOS_TOOLS_KELDADES_RECORDS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "data/data_files.h"
#include "keldades/dataset.h"

// Records of the six files built and read field by field, by the names of
// the shared layout tables.
namespace tarnevos::keldades {

const FileLayout& LayoutOf(FileIndex file);
// The field of that name; every name used by the tool is in the tables.
const FieldSpec& FieldOf(FileIndex file, std::string_view name);
// "coefficient" and 3 -> "coefficient_3".
std::string IndexedName(const char* stem, int index);

// A record being built: blanks, then each field where the layout puts it.
class RecordBuilder {
 public:
  explicit RecordBuilder(FileIndex file);
  // Integer fields (16 or 32 bits, as the layout says).
  void Int(std::string_view name, int64_t value);
  // Texts, packed codes, dates and single characters: cut or blank-padded.
  void Bytes(std::string_view name, std::string_view value);
  std::string Take() { return std::move(bytes_); }

 private:
  FileIndex file_;
  std::string bytes_;
};

// Reads fields of a record (a short record reads as blank-padded).
class RecordReader {
 public:
  RecordReader(FileIndex file, std::string_view record);
  int64_t Int(std::string_view name) const;
  std::string Bytes(std::string_view name) const;

 private:
  FileIndex file_;
  std::string record_;
};

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_RECORDS_H_
