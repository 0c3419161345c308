#ifndef TARNEVOS_REPORT_STATEMENTS_H_
#define TARNEVOS_REPORT_STATEMENTS_H_

#include <memory>
#include <string>
#include <string_view>

#include "report/settlement.h"

// Owners' statements: one A4 page per listed unit, drawn from the figures
// the settlement summary prints for it (report/settlement.h), never from a
// computation of their own. Each community of a run gets a PDF file of its
// own, "<community>-<cut-off>.pdf" (four and eight digits, e.g.
// 0012-20261130.pdf), with an outline entry per unit; the whole run also
// goes into "EXTRACTES-<first>-<last>-<cut-off>.pdf" (the communities of
// the range) with an outline entry per community and, below it, per unit.
//
// A statement shows the administrator's letterhead (as [Rebut] Membret
// says), the community, the period, the unit and its owner, the date of
// issue, one line per distribution column the community uses, the private
// expenses, the account (previous balance, paid, charged, balance, and who
// owes whom), and how the figures came about: the shares, the community's
// rounding remainder and the administrator's fee. Texts are those of
// report/statement_texts.h, in the session's language; amounts are in the
// printer's currency, as wide as they need to be.
//
// The files are the same bytes for the same data and parameters: the date
// of issue is the date of SOURCE_DATE_EPOCH when that is set, else the
// cut-off date, and nothing else of the run goes into them.
namespace tarnevos {

// The regular and bold faces the statements are set in (Debian's
// fonts-dejavu-core).
inline constexpr char kStatementFont[] =
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline constexpr char kStatementBoldFont[] =
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// The folder the form's runs write the statements into: Orvo.ini
// [Extractes] Carpeta, taken from the root directory when it is not an
// absolute path; without it the folder EXTRACTES of the session's directory.
// Ends with a separator.
std::string StatementsFolder();

// What a run of statements did.
struct StatementsOutcome {
  bool ok = true;
  int statements = 0;         // pages written, one per listed unit
  int community_files = 0;    // files of single communities written
  std::string folder;         // as given, with its separator
  std::string combined_file;  // the run's file (a suite path); "" if none
  std::string error;          // CP850, when !ok: what failed, naming it
};

// Writes the statements of one run into a folder (a suite path, made when
// missing). Give it every community's settlement in order (Add, or the
// sink of Sink()), then call Finish. The first failure (folder, font, a
// file that cannot be written) ends the run's statements: files completed
// before it stay, the unfinished ones are removed, and Finish reports it.
// Not copyable.
class StatementsWriter {
 public:
  explicit StatementsWriter(std::string folder);
  ~StatementsWriter();
  StatementsWriter(const StatementsWriter&) = delete;
  StatementsWriter& operator=(const StatementsWriter&) = delete;

  // The community's statements: its own file, and its pages in the run's
  // file. A community without listed units gives nothing.
  void Add(const CommunitySettlement& settlement);
  // A sink that calls Add; valid while the writer lives.
  SettlementSink Sink();
  // Completes the run's file. Call once, after the last community.
  StatementsOutcome Finish();

 private:
  class Job;
  std::string folder_;
  std::unique_ptr<Job> job_;
  StatementsOutcome outcome_;
};

// One report as ProduceReport makes it, with the statements of every
// listed unit written into `folder` along the way. The form's choice calls
// it with StatementsFolder(); the batch run's --statements DIR gives a
// StatementsWriter's Add to its own sink, with the other renderers', and
// Finishes it before printing (report/batch.h).
StatementsOutcome ProduceReportWithStatements(const std::string& folder);

// The operator's message about a run of statements: how many were written
// and where, that the range held no unit, or what failed. CP850.
std::string StatementsMessage(const StatementsOutcome& outcome);
// Shows that message in a box until a key is pressed.
void TellStatementsOutcome(const StatementsOutcome& outcome);

// --- Pieces, exposed for tests. ---------------------------------------------

// An amount in the current currency with every digit it needs: thousands
// separators and decimals as the summary writes them, no padding.
std::string StatementAmount(int64_t amount);
// The date of issue: SOURCE_DATE_EPOCH's day (UTC) when the variable holds
// a number of seconds, else the cut-off date. Packed.
std::string StatementIssueDate(std::string_view cutoff_date);
// File names: "0012-20261130.pdf", "EXTRACTES-0001-0999-20261130.pdf".
std::string CommunityStatementsName(std::string_view community_code,
                                    std::string_view cutoff_date);
std::string CombinedStatementsName(std::string_view first_community,
                                   std::string_view last_community,
                                   std::string_view cutoff_date);

}  // namespace tarnevos

#endif  // TARNEVOS_REPORT_STATEMENTS_H_
