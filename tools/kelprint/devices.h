#ifndef TARNEVOS_TOOLS_KELPRINT_DEVICES_H_
#define TARNEVOS_TOOLS_KELPRINT_DEVICES_H_

#include <string>
#include <string_view>

namespace tarnevos::kelprint {

enum class DeviceKind { kPreview, kPdf, kText, kSpooler };

struct Device {
  DeviceKind kind = DeviceKind::kPreview;
  std::string path;    // native file written for kPdf, kText and kSpooler
  std::string queue;   // spooler queue; "" for the default one
  std::string notice;  // why the preview stands in for an unknown device
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

// Hands a file to the spooler: `lp [-d queue] file`, found on PATH and
// started without a shell; waits for it. Returns false with the reason in
// `error` when lp is missing, cannot start or reports a failure.
bool SendToSpooler(const std::string& path, const std::string& queue,
                   std::string& error);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_DEVICES_H_
