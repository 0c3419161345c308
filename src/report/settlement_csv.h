#ifndef TARNEVOS_REPORT_SETTLEMENT_CSV_H_
#define TARNEVOS_REPORT_SETTLEMENT_CSV_H_

#include <memory>
#include <string>

#include "report/settlement.h"
#include "report/settlement_table.h"

// The settlement as CSV files in a folder: parameters.csv, then
// community-CCCC.csv per community with units listed, each the rows of its
// sheet (settlement_table.h). UTF-8, "," between fields, RFC 4180 quoting,
// CR LF line ends; amounts in euros with a decimal point and two decimals,
// pesetas whole, dates YYYY-MM-DD.
namespace tarnevos {

class CsvFolder {
 public:
  // Makes the folder when missing (its parent must exist) and writes the
  // parameters file; nullptr with `error` set when either fails.
  static std::unique_ptr<CsvFolder> Create(const std::string& suite_path,
                                           const RunDescription& run,
                                           std::string& error);

  // Writes a community's file, replacing one of the same name whole (the
  // report's settlement sink); a community without listed units writes
  // nothing. After a failure further communities are ignored.
  void Add(const CommunitySettlement& settlement);

  // False with `error` when some file could not be written; files written
  // before the failure stay.
  bool Finish(std::string& error) const;

 private:
  CsvFolder(std::string folder, SheetLabels labels)
      : folder_(std::move(folder)), labels_(std::move(labels)) {}
  bool Write(const SheetTable& table);

  std::string folder_;  // ends with "/"
  SheetLabels labels_;
  std::string error_;
};

// A sheet's rows as CSV text.
std::string CsvText(const SheetTable& table);

}  // namespace tarnevos

#endif  // TARNEVOS_REPORT_SETTLEMENT_CSV_H_
