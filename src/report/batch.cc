#include "report/batch.h"

#include <cstdlib>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>

#include "data/access_layer.h"
#include "data/data_files.h"
#include "platform/system/system.h"
#include "print/print_file.h"
#include "report/settlement.h"
#include "report/settlement_csv.h"
#include "report/settlement_table.h"
#include "report/settlement_xlsx.h"
#include "report/statements.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

constexpr char kUsage[] =
    "usage: tarnevos --batch --cutoff DATE [--from C.U] [--to C.U]\n"
    "                [--copies N] [--xlsx FILE] [--csv DIR] [--statements "
    "DIR]\n"
    "                [--root DIR] [--session DIR] [--output DEVICE]\n"
    "  DATE is YYYY-MM-DD or DD/MM/YYYY; C.U a community and a unit number\n"
    "  (by default every community and unit); --copies 0 prints one copy per\n"
    "  unit of each community; DEVICE as in [Sistema] Sortida (PDF:path,\n"
    "  TXT:path, LP, ...).\n";

// Where the fatal stop of an unattended run is told.
std::ostream* stop_stream = nullptr;

void StopUnattended(const std::string& message) {
  std::ostream& err = stop_stream != nullptr ? *stop_stream : std::cerr;
  err << "tarnevos: " << Utf8FromCp850(message) << std::endl;
  std::exit(kBatchDataStop);
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "C.U" or "C" into its two numbers as the form's fields hold them.
bool RangeEnd(const std::string& option, const std::string& text,
              const char* lone_unit, std::string& community, std::string& unit,
              std::string& error) {
  const size_t dot = text.find('.');
  community = text.substr(0, dot);
  unit = dot == std::string::npos ? lone_unit : text.substr(dot + 1);
  if (!AllDigits(community) || !AllDigits(unit) || community.size() > 4 ||
      unit.size() > 4) {
    error = option + " " + text +
            ": must be a community and a unit number, C.U (up to four "
            "digits each)";
    return false;
  }
  return true;
}

// "YYYY-MM-DD" as the form's date field would have it typed; any other
// text as typed.
std::string DateAsTyped(const std::string& text) {
  const size_t first = text.find('-');
  if (first != 4 || text.size() < 8) return text;
  const size_t second = text.find('-', first + 1);
  if (second == std::string::npos) return text;
  const std::string year = text.substr(0, first);
  const std::string month = text.substr(first + 1, second - first - 1);
  const std::string day = text.substr(second + 1);
  if (!AllDigits(year) || !AllDigits(month) || !AllDigits(day)) return text;
  return day + "/" + month + "/" + year;
}

std::string PackedToday() {
  const platform::CalendarDay today = platform::LocalToday();
  return PackDigits(ZeroPad(today.year, 4) + ZeroPad(today.month, 2) +
                    ZeroPad(today.day, 2));
}

// The renderers the options ask for, fed with each community's settlement.
struct Renderers {
  std::unique_ptr<XlsxWorkbook> workbook;
  std::unique_ptr<CsvFolder> csv;
  std::unique_ptr<StatementsWriter> statements;
  StatementsOutcome statements_outcome;

  bool Start(const BatchOptions& options, const RunDescription& run,
             std::ostream& err) {
    std::string error;
    if (!options.xlsx.empty()) {
      workbook = XlsxWorkbook::Create(options.xlsx, run, error);
      if (workbook == nullptr) {
        err << "tarnevos: " << options.xlsx << ": " << error << "\n";
        return false;
      }
    }
    if (!options.csv.empty()) {
      csv = CsvFolder::Create(options.csv, run, error);
      if (csv == nullptr) {
        err << "tarnevos: " << error << "\n";
        return false;
      }
    }
    if (!options.statements.empty()) {
      std::string folder = options.statements;
      if (folder.back() != '/' && folder.back() != '\\') folder += '/';
      statements = std::make_unique<StatementsWriter>(folder);
    }
    return true;
  }

  SettlementSink Sink() {
    if (workbook == nullptr && csv == nullptr && statements == nullptr) {
      return nullptr;
    }
    return [this](const CommunitySettlement& settlement) {
      if (workbook != nullptr) workbook->Add(settlement);
      if (csv != nullptr) csv->Add(settlement);
      if (statements != nullptr) statements->Add(settlement);
    };
  }

  // Run before the print program, still in the printer's currency, which
  // the statements' amounts are written in.
  std::function<void()> BeforePrinting() {
    if (statements == nullptr) return nullptr;
    return [this] { statements_outcome = statements->Finish(); };
  }

  bool Finish(const BatchOptions& options, std::ostream& err) {
    bool ok = true;
    std::string error;
    if (workbook != nullptr && !workbook->Finish(error)) {
      err << "tarnevos: " << options.xlsx << ": " << error << "\n";
      ok = false;
    }
    if (csv != nullptr && !csv->Finish(error)) {
      err << "tarnevos: " << error << "\n";
      ok = false;
    }
    if (statements != nullptr && !statements_outcome.ok) {
      err << "tarnevos: "
          << Utf8FromCp850(StatementsMessage(statements_outcome)) << "\n";
      ok = false;
    }
    return ok;
  }
};

// Installs the unattended ways of telling failures for the life of a run.
class UnattendedRun {
 public:
  explicit UnattendedRun(std::ostream& err) {
    stop_stream = &err;
    SetUnattendedStop(&StopUnattended);
    SetPrintFailureReporter([&err](const std::string& message) {
      err << "tarnevos: " << Utf8FromCp850(message) << "\n";
    });
  }
  ~UnattendedRun() {
    SetPrintFailureReporter(nullptr);
    SetUnattendedStop(nullptr);
    stop_stream = nullptr;
  }
  UnattendedRun(const UnattendedRun&) = delete;
  UnattendedRun& operator=(const UnattendedRun&) = delete;
};

}  // namespace

const char* BatchUsage() { return kUsage; }

bool ParseBatchOptions(const std::vector<std::string>& arguments,
                       BatchOptions& options, std::string& error) {
  std::string BatchOptions::*const kTexts[] = {
      &BatchOptions::cutoff,    &BatchOptions::from, &BatchOptions::to,
      &BatchOptions::copies,    &BatchOptions::xlsx, &BatchOptions::csv,
      &BatchOptions::statements};
  const char* const kNames[] = {"--cutoff", "--from", "--to",        "--copies",
                                "--xlsx",   "--csv",  "--statements"};
  bool cutoff_given = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    if (name == "--batch") continue;
    std::optional<std::string> value;
    const size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    std::string* target = nullptr;
    for (size_t k = 0; k < std::size(kNames); ++k) {
      if (name == kNames[k]) target = &(options.*kTexts[k]);
    }
    if (target == nullptr) {
      error = "unknown option " + arguments[i];
      return false;
    }
    if (!value) {
      if (i + 1 >= arguments.size()) {
        error = name + " needs a value";
        return false;
      }
      value = arguments[++i];
    }
    *target = *value;
    if (name == "--cutoff") cutoff_given = true;
  }
  if (!cutoff_given) {
    error = "--cutoff is missing";
    return false;
  }
  return true;
}

bool BatchParameters(const BatchOptions& options, ReportParameters& parameters,
                     std::string& error) {
  const std::string typed = DateAsTyped(TrimBlanks(options.cutoff));
  if (IsInvalidDateEntry(typed)) {
    error = "--cutoff " + options.cutoff + ": not a calendar date";
    return false;
  }
  std::string first_community, first_unit, last_community, last_unit;
  if (!RangeEnd("--from", options.from, "0", first_community, first_unit,
                error) ||
      !RangeEnd("--to", options.to, "9999", last_community, last_unit, error)) {
    return false;
  }
  if (!AllDigits(options.copies) || options.copies.size() > 5 ||
      std::stol(options.copies) > 32767) {
    error = "--copies " + options.copies +
            ": must be a whole number from 0 "
            "to 32767";
    return false;
  }
  parameters = ParametersFromEntries(typed, first_community, first_unit,
                                     last_community, last_unit, options.copies);
  if (!RangeInOrder(parameters)) {
    error = "--from " + options.from + " comes after --to " + options.to;
    return false;
  }
  return true;
}

int RunBatch(const BatchOptions& options, std::ostream& err) {
  ReportParameters parameters;
  std::string error;
  if (!BatchParameters(options, parameters, error)) {
    err << "tarnevos: " << error << "\n" << kUsage;
    return kBatchUsage;
  }
  UnattendedRun unattended(err);
  ResetWorkTables();
  OpenAllDataFiles();
  LoadFeeSettings();
  Parameters() = parameters;

  RunDescription run;
  run.parameters = parameters;
  run.run_date = PackedToday();
  run.administrator = Run().administrator_lines[1];
  run.administrator_tax_id = Run().administrator_lines[7];
  Renderers renderers;
  bool done = renderers.Start(options, run, err);
  if (done) {
    ProduceReport(renderers.Sink(), renderers.BeforePrinting());
    const PrintOutcome printed = LastPrintOutcome();
    // The print file and the program's failures were told as they happened.
    done = printed.file_complete && printed.program_run;
    if (printed.program_run && printed.program_exit_code != 0) {
      err << "tarnevos: the print program ended with exit code "
          << printed.program_exit_code << "\n";
      done = false;
    }
    done = renderers.Finish(options, err) && done;
  }
  int16_t status = 0;
  CloseAllDataFiles(status);
  return done ? kBatchDone : kBatchFailed;
}

}  // namespace tarnevos
