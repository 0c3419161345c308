#ifndef TARNEVOS_TOOLS_KELDADES_CHECK_H_
#define TARNEVOS_TOOLS_KELDADES_CHECK_H_

#include <map>
#include <ostream>
#include <string>
#include <vector>

// What will make the settlement of an installation's communities
// surprising, found before the report is run:
// - coefficients of a column that do not add up to the column's total
//   (column A: 1,000,000; B..G: the community's special column totals);
// - units, collections and payments that belong to no listed community or
//   unit (they count nowhere, or only in the remainder line);
// - payments to a column code outside 0..8 (they count in the expenses
//   only);
// - unit numbers that repeat modulo 1,000 within a community (the second
//   unit's private expenses and collections go elsewhere);
// - a community charged a monthly fee with no last-settlement date (it is
//   charged nothing);
// - figures that fill their 10-character slot at the cut-off date, in
//   euros or in pesetas (they touch the figure before them), taken from the
//   report's own computation.
namespace tarnevos::keldades {

struct CheckFinding {
  std::string what;                  // one line
  std::vector<std::string> records;  // the records concerned, one per line
};

struct CommunityFindings {
  bool listed = false;  // the community is in FinquesH
  std::string name;     // UTF-8, as the report shows it
  std::vector<CheckFinding> findings;
};

struct CheckReport {
  std::map<int, CommunityFindings> communities;  // by community code
  size_t Count() const;
};

// Reads the installation at `root` (ending with "/") and checks it for the
// cut-off date (packed). False with `error` when the installation cannot
// be read (a data file missing, damaged or locked). Reads only: no data
// file is created or changed.
bool CheckInstallation(const std::string& root, const std::string& cutoff,
                       CheckReport& report, std::string& error);

// The findings, community by community, each line starting with `prefix`.
void PrintCheckReport(const CheckReport& report, const std::string& prefix,
                      std::ostream& out);

// Today's date, packed: the cut-off a check takes by default.
std::string TodayPacked();

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_CHECK_H_
