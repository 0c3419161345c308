// The print program's arguments and its DEVICE line. Input: the DEVICE
// line's value up to the first zero byte, then up to four arguments
// separated by zero bytes. Every device value is parsed (a known kind, a
// file for the kinds that write one, a notice for an unknown one); the
// whole program then runs on a print file of that DEVICE line whenever
// what it would write stays in the scratch folder (never the spooler, and
// a FILE argument always names the scratch print file). Its exit code is
// one of the documented ones; a file device that succeeded wrote its file.
#include <sanitizer/lsan_interface.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kelprint/devices.h"
#include "kelprint/kelprint_app.h"
#include "kelprint/pdf_renderer.h"
#include "kelprint/print_document.h"
#include "platform/console/memory_console.h"
#include "util/codepage.h"

namespace {

using namespace tarnevos;
using namespace tarnevos::kelprint;
namespace fs = std::filesystem;

void Check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "kelprint_args_fuzzer: %s\n", what);
    std::abort();
  }
}

const std::string& Scratch() {
  static const std::string dir = [] {
    const std::string base = fs::exists("/dev/shm")
                                 ? "/dev/shm"
                                 : fs::temp_directory_path().string();
    std::string pattern = base + "/tarnevos-kelprint-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern.data());
    const std::string folder = std::string(made == nullptr ? "." : made) + "/";
    ::setenv("KELTMP", folder.c_str(), 1);
    return folder;
  }();
  return dir;
}

// Inside the scratch folder, without a way out of it.
bool Contained(const std::string& path) {
  return path.compare(0, Scratch().size(), Scratch()) == 0 &&
         path.find("/..") == std::string::npos &&
         path.find('\0') == std::string::npos;
}

void CheckDevice(const Device& device) {
  switch (device.kind) {
    case DeviceKind::kPreview:
      break;
    case DeviceKind::kPdf:
    case DeviceKind::kText:
    case DeviceKind::kSpooler:
      Check(!device.path.empty(), "a device that writes without a file");
      break;
    default:
      Check(false, "an unknown device kind");
  }
  Check(device.kind == DeviceKind::kSpooler || device.queue.empty(),
        "a queue for a device that is no spooler");
}

}  // namespace

// The PDF renderer's font library keeps what it looked up for the rest of
// the process: let it look the faces up before the first input, out of the
// leak check's sight.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __lsan_disable();
  std::string error;
  RenderPdf(
      ReadPrintFile("DEVICE\r\n 1 ,regular, 1 \r\n*i\r\n 1 ,italic, 1 \r\n"),
      PdfSettings{}, [](const unsigned char*, size_t) { return true; }, error);
  __lsan_enable();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& scratch = Scratch();
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> pieces;
  for (size_t start = 0;;) {
    const size_t end = input.find('\0', start);
    pieces.push_back(input.substr(start, end - start));
    if (end == std::string::npos || pieces.size() == 5) break;
    start = end + 1;
  }
  const std::string device_line = pieces[0];
  std::vector<std::string> arguments;
  std::string effective = device_line;
  for (size_t i = 1; i < pieces.size(); ++i) {
    std::string argument = pieces[i];
    if (argument.rfind("--device=", 0) == 0) {
      effective = Cp850(argument.substr(9));
    } else if (argument.empty() || argument[0] != '-') {
      argument = scratch + "print.tmp";
    }
    arguments.push_back(argument);
  }

  const Device device = ParseDevice(effective, scratch);
  CheckDevice(device);
  CheckDevice(ParseDevice(device_line, scratch));
  if (device.kind == DeviceKind::kSpooler ||
      (device.kind != DeviceKind::kPreview && !Contained(device.path))) {
    return 0;
  }

  {
    std::ofstream out(scratch + "print.tmp",
                      std::ios::binary | std::ios::trunc);
    out << "DEVICE" << device_line << "\r\nPAGE 66 \r\n 1,TEXT, 1 \r\n";
  }
  {
    std::ofstream out(scratch + "kelprint.tmp",
                      std::ios::binary | std::ios::trunc);
    out << "DEVICE" << device_line << "\r\n 5,DEFAULT, 0 \r\n";
  }
  std::error_code ec;
  if (device.kind != DeviceKind::kPreview) fs::remove(device.path, ec);
  auto open_terminal = [](std::string&) -> std::unique_ptr<platform::Console> {
    auto console = std::make_unique<platform::MemoryConsole>();
    console->PushKey('q');
    return console;
  };
  std::ostringstream out, err;
  const int code = KelprintMain(arguments, open_terminal, out, err);
  Check(code == kExitOk || code == kExitNoPrintFile || code == kExitNoOutput ||
            code == kExitUsage,
        "an undocumented exit code");
  if (code == kExitOk && device.kind != DeviceKind::kPreview) {
    Check(fs::exists(device.path, ec),
          "a file device succeeded without a file");
    fs::remove(device.path, ec);
  }
  return 0;
}
