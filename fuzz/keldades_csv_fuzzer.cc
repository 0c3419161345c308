// Feeds arbitrary bytes to the data tool's CSV import as one section's
// file, after fixed files of the sections before it (so units, collections
// and payments meet communities and units they may refer to). No input may
// crash it; a refused file must say why, naming the file; an accepted one
// must give records of their files' lengths. The cells' readers get the
// same bytes, and what the export writes for an amount or a date must read
// back to the same value.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "data/data_files.h"
#include "keldades/csv_dataset.h"
#include "keldades/csv_values.h"
#include "keldades/dataset.h"

namespace {

using namespace tarnevos;
using namespace tarnevos::keldades;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "keldades_csv_fuzzer: %s\n", what);
    std::abort();
  }
}

// Files of the sections before the fuzzed one.
const char* const kBefore[] = {
    "code;number;class\n1;;1\n;112;0\n",
    "code;name;monthly_fee;last_settlement\n1;A*B;10,00;31/08/2026\n2;C;;\n",
    "community;unit;coefficient_a\n1;1;500.000\n1;2;500.000\n2;1;1000000\n",
    "community;unit;date;amount\n1;1;05/09/2026;90\n",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t chosen = data[0] % kSections.size();
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  DatasetBuilder builder;
  CsvLines lines;
  std::string error;
  for (size_t s = 0; s < chosen; ++s) {
    std::istringstream in(kBefore[s]);
    Check(ReadCsvSection(kSections[s].name, kSections[s].name, in, builder,
                         lines, error),
          "a fixed file refused");
  }
  std::istringstream in(text);
  const std::string name = std::string(kSections[chosen].name) + ".csv";
  if (!ReadCsvSection(kSections[chosen].name, name, in, builder, lines,
                      error)) {
    Check(error.rfind(name, 0) == 0, "a refusal that does not name its file");
  } else {
    RecordSet records;
    Check(builder.Finish(records), "an accepted file that does not finish");
    for (int file = 0; file < kFileCount; ++file) {
      for (const std::string& record : records.files[file]) {
        Check(record.size() == FileLayouts()[file].record_length,
              "a record of the wrong length");
      }
    }
  }

  int64_t value = 0;
  if (ParseEuros(text, value, error)) {
    for (const CsvStyle& style : {CsvStyle{}, CsvStyle{';', ',', true, true}}) {
      int64_t again = 0;
      Check(ParseEuros(EurosText(value, style), again, error) &&
                again == value,
            "an amount that does not read back");
    }
  }
  ParseWhole(text, value, error);
  std::string iso;
  if (ParseDate(text, iso, error)) {
    std::string again;
    Check(ParseDate(DateText(iso, CsvStyle{';', ',', true, true}), again,
                    error) &&
              again == iso,
          "a date that does not read back");
  }
  bool flag = false;
  ParseFlag(text, flag, error);
  return 0;
}
