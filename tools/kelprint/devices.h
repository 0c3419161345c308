#ifndef TARNEVOS_TOOLS_KELPRINT_DEVICES_H_
#define TARNEVOS_TOOLS_KELPRINT_DEVICES_H_

#include <string>
#include <string_view>

namespace tarnevos::kelprint {

enum class DeviceKind { kPreview, kPdf, kText, kSpooler };

struct Device {
  DeviceKind kind = DeviceKind::kPreview;
  std::string path;   // native file written for kPdf, kText and kSpooler
  std::string queue;  // spooler queue; "" for the default one
  // A device not known here, as the print file names it (CP850); the
  // preview stands in for it.
  std::string unknown;
};

// The device a DEVICE line names (the terminal's output target, CP850),
// keywords in any case, blanks around them ignored:
//   "" or PANTALLA         preview in the terminal
//   PDF or PDF:<path>      PDF file, by default TmpDir + "kelprint.pdf"
//   TXT or TXT:<path>      UTF-8 text, by default TmpDir + "kelprint.txt"
//   LP or LP:<queue>       PDF (TmpDir + "kelprint.pdf") sent to the system's
//                          print spooler; the DOS printer names PRN, LPT1,
//                          LPT2 and LPT3 mean its default queue
// Anything else is shown in the preview with a notice naming it. Paths are
// suite paths (CP850, "\" or "/") made native here; `tmp_dir` is the
// session's TmpDir.
Device ParseDevice(std::string_view value, std::string_view tmp_dir);

// How handing a file to the spooler went.
struct SpoolResult {
  enum class Status {
    kSent,         // lp accepted the file
    kMissing,      // no lp on PATH
    kCannotStart,  // lp could not be started
    kFailed,       // lp ended with an exit code other than 0
    kStopped,      // lp was ended by a signal
  };
  Status status = Status::kSent;
  int exit_code = 0;   // kFailed: lp's exit code
  std::string job_id;  // kSent: the job's name as lp reports it ("office-12")
  // What lp wrote (standard output and error), blanks around it removed,
  // line ends made blanks, at most kMaxSpoolerOutput bytes.
  std::string output;
  std::string error;  // kCannotStart: why, in English
};

inline constexpr size_t kMaxSpoolerOutput = 400;

// Hands a file to the spooler: `lp [-d queue] file`, found on PATH and
// started without a shell, in the C locale so that its report can be read;
// waits for it and takes what it wrote, so nothing of it reaches the
// terminal.
SpoolResult SendToSpooler(const std::string& path, const std::string& queue);

// The job's name in lp's report ("request id is office-12 (1 file(s))");
// "" when the report names none.
std::string SpoolerJobId(std::string_view lp_output);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_DEVICES_H_
