#ifndef TARNEVOS_TOOLS_KELPRINT_OUTCOME_H_
#define TARNEVOS_TOOLS_KELPRINT_OUTCOME_H_

#include <string>

namespace tarnevos::kelprint {

// What the print program did with a print file, as the operator is told:
// on the terminal in the session's language, or on standard error in
// English when no terminal is attached.
struct Outcome {
  enum class Kind {
    kPdfWritten,      // path, pages
    kTextWritten,     // path, pages
    kSpooled,         // path (the PDF), pages, queue, job_id (may be empty)
    kNothingToSpool,  // the print file holds no pages: nothing was sent
    kCannotRead,      // path (the print file), system_error, detail
    kCannotWrite,     // path, system_error, detail
    kNoSpooler,       // path (the PDF, which stays)
    kSpoolerFailed,   // path, exit_code, detail (the spooler's own words)
  };
  Kind kind = Kind::kPdfWritten;
  std::string path;  // native
  int pages = 0;
  std::string queue;   // the spooler's queue; "" for its default one
  std::string job_id;  // the spooler's name of the job
  int system_error = 0;
  int exit_code = 0;   // of the spooler command; -1 when it was stopped
  std::string detail;  // English, or the spooler's words; may be empty

  bool Failed() const;
};

// One English line for standard error, without the program's name:
// "3 pages written to /tmp/kelprint.pdf".
std::string EnglishSummary(const Outcome& outcome);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_OUTCOME_H_
