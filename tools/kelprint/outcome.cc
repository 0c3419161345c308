#include "kelprint/outcome.h"

namespace tarnevos::kelprint {
namespace {

std::string Pages(int count) {
  return std::to_string(count) + (count == 1 ? " page" : " pages");
}

std::string WithDetail(std::string text, const std::string& detail) {
  if (!detail.empty()) text += ": " + detail;
  return text;
}

}  // namespace

bool Outcome::Failed() const {
  switch (kind) {
    case Kind::kPdfWritten:
    case Kind::kTextWritten:
    case Kind::kSpooled:
    case Kind::kNothingToSpool:
      return false;
    case Kind::kCannotRead:
    case Kind::kCannotWrite:
    case Kind::kNoSpooler:
    case Kind::kSpoolerFailed:
      return true;
  }
  return true;
}

std::string EnglishSummary(const Outcome& outcome) {
  switch (outcome.kind) {
    case Outcome::Kind::kPdfWritten:
    case Outcome::Kind::kTextWritten:
      return Pages(outcome.pages) + " written to " + outcome.path;
    case Outcome::Kind::kSpooled:
      return Pages(outcome.pages) + " sent to the printer" +
             (outcome.queue.empty() ? "" : " " + outcome.queue) +
             (outcome.job_id.empty() ? "" : " as job " + outcome.job_id) +
             " (" + outcome.path + ")";
    case Outcome::Kind::kNothingToSpool:
      return "nothing to print: the print file holds no pages";
    case Outcome::Kind::kCannotRead:
      return WithDetail("cannot read the print file " + outcome.path,
                        outcome.detail);
    case Outcome::Kind::kCannotWrite:
      return WithDetail("cannot write " + outcome.path, outcome.detail);
    case Outcome::Kind::kNoSpooler:
      return "the print spooler command lp is not available (install the "
             "CUPS client); the PDF is in " +
             outcome.path;
    case Outcome::Kind::kSpoolerFailed:
      return WithDetail(outcome.exit_code < 0
                            ? std::string("lp was stopped by a signal")
                            : "lp failed with exit code " +
                                  std::to_string(outcome.exit_code),
                        outcome.detail) +
             "; the PDF is in " + outcome.path;
  }
  return "";
}

}  // namespace tarnevos::kelprint
