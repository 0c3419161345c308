#ifndef TARNEVOS_REPORT_SETTLEMENT_XLSX_H_
#define TARNEVOS_REPORT_SETTLEMENT_XLSX_H_

#include <memory>
#include <string>

#include "report/settlement.h"
#include "report/settlement_table.h"

// The settlement as an XLSX workbook (libxlsxwriter): the parameters sheet
// first, then a sheet per community with units listed, in the order the
// report hands them out. Rows are written out as they are made, so only
// the community at hand is held in memory.
namespace tarnevos {

class XlsxWorkbook {
 public:
  // Starts a workbook that Finish writes to `suite_path`; nullptr with
  // `error` set when its scratch space cannot be made.
  static std::unique_ptr<XlsxWorkbook> Create(const std::string& suite_path,
                                              const RunDescription& run,
                                              std::string& error);
  ~XlsxWorkbook();
  XlsxWorkbook(const XlsxWorkbook&) = delete;
  XlsxWorkbook& operator=(const XlsxWorkbook&) = delete;

  // Adds a community's sheet (the report's settlement sink); a community
  // without listed units adds nothing, as it prints nothing. After a
  // failure further communities are ignored and Finish reports it.
  void Add(const CommunitySettlement& settlement);

  // Writes the workbook in place of the file at the path (readers see the
  // old file or the whole new one). False with `error` when it, or any
  // sheet before it, could not be written; the old file is then untouched.
  bool Finish(std::string& error);

 private:
  struct State;
  explicit XlsxWorkbook(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace tarnevos

#endif  // TARNEVOS_REPORT_SETTLEMENT_XLSX_H_
