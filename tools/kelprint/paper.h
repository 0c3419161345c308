#ifndef TARNEVOS_TOOLS_KELPRINT_PAPER_H_
#define TARNEVOS_TOOLS_KELPRINT_PAPER_H_

#include <optional>
#include <string>
#include <string_view>

namespace tarnevos::kelprint {

// A sheet size, portrait, in PostScript points (1/72 inch).
struct Paper {
  std::string name;  // as it is known to the system: "a4", "letter", ...
  double width = 0;
  double height = 0;
};

// The paper of a name as the system's paper settings write it (matched
// without regard to case): the ISO A3 to A5 and B5, and the North American
// letter, legal, executive and tabloid (ledger is tabloid turned).
std::optional<Paper> PaperByName(std::string_view name);

// The paper name a paper settings file gives: the first word of its first
// line that is not a comment ("#"); "" when there is none.
std::string PaperNameFromSettings(std::string_view text);

// A4, the paper when nothing else is known.
Paper DefaultPaper();

// The system's default paper as the paper library reads it: the variable
// PAPERSIZE when it is not empty, otherwise the first word of the first
// line that is not a comment ("#") of the file the variable PAPERCONF
// names, or of /etc/papersize. A missing or unreadable file, no name or a
// name not known here give A4.
Paper SystemPaper();

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_PAPER_H_
