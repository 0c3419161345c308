#ifndef TARNEVOS_TOOLS_KELDADES_CSV_DATASET_H_
#define TARNEVOS_TOOLS_KELDADES_CSV_DATASET_H_

#include <istream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "keldades/csv_values.h"
#include "keldades/dataset.h"
#include "keldades/store.h"

// An installation's data as one CSV file per section of the dataset, for
// spreadsheets: receipt_types.csv, communities.csv, units.csv,
// collections.csv and payments.csv. The columns are the dataset's fields
// with amounts in euros, dates as dates and the lists spread over columns
// of their own (coefficient_a ... coefficient_g, receipt_amount_1 ...,
// column_b_title, column_b_total, ...); unit codes are two whole-number
// columns, community and unit, so that a spreadsheet cannot read "1.10" as
// the number 1.1.
namespace tarnevos::keldades {

// Writes the five files of the installation at `root` into `folder`
// (made when missing), each whole under a temporary name first. False with
// `error` naming the file.
bool ExportCsv(const std::string& root, const std::string& folder,
               const CsvStyle& style, std::string& error);

// Reads the five files from `folder` with the checks of a dataset load and
// writes the installation as load does: all or nothing. False with `error`
// naming the file, the line and the column of the first fault; nothing is
// then changed.
bool ImportCsv(const std::string& root, const std::string& folder,
               WriteCounts& counts, std::string& error);

// Reads the five files into records without writing anything (the import's
// first half, for tests and fuzzing of the readers).
bool ReadCsvDataset(const std::string& folder, RecordSet& records,
                    std::string& error);

// Reads one section's file into the builder (sections in kSections order).
// `lines` keeps, per section, the line of each element read, for messages
// that refer to an earlier element; share one across the sections.
using CsvLines = std::map<std::string, std::vector<size_t>>;
bool ReadCsvSection(std::string_view section, const std::string& file_name,
                    std::istream& in, DatasetBuilder& builder, CsvLines& lines,
                    std::string& error);

// The columns of a section's file, in the order the export writes them.
std::vector<std::string> CsvColumns(std::string_view section);

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_CSV_DATASET_H_
