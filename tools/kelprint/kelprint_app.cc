#include "kelprint/kelprint_app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "kelprint/devices.h"
#include "kelprint/pdf_renderer.h"
#include "kelprint/preview.h"
#include "kelprint/print_document.h"
#include "kelprint/text_renderer.h"
#include "platform/system/paths.h"
#include "settings/session.h"
#include "util/codepage.h"

namespace tarnevos::kelprint {
namespace {

constexpr const char* kUsage =
    "usage: kelprint [--device=VALUE] [FILE]\n"
    "Renders the print file (default: the session's kelprint.tmp) on the\n"
    "device its DEVICE line names: empty or PANTALLA (preview), PDF[:path],\n"
    "TXT[:path], LP[:queue].\n";

struct Options {
  std::string file;
  bool has_device = false;
  std::string device;
};

bool ParseArguments(const std::vector<std::string>& arguments, Options& options,
                    std::ostream& err) {
  for (const std::string& argument : arguments) {
    if (argument.rfind("--device=", 0) == 0) {
      options.has_device = true;
      options.device = Cp850(argument.substr(9));
    } else if (argument == "-h" || argument == "--help" ||
               (argument.size() > 1 && argument[0] == '-') ||
               !options.file.empty()) {
      err << kUsage;
      return false;
    } else {
      options.file = argument;
    }
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes,
                   std::string& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    error = std::strerror(EISDIR);
    return false;
  }
  bytes.clear();
  char buffer[65536];
  while (true) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      ::close(fd);
      return false;
    }
    bytes.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes,
                    std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (out) out.close();
  if (!out) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

std::string Pages(const PrintDocument& document) {
  size_t count = document.pages.size();
  return std::to_string(count) + (count == 1 ? " page" : " pages");
}

int ShowPreview(const PrintDocument& document, const Device& device,
                const std::string& problem, const TerminalOpener& open_terminal,
                std::ostream& err) {
  std::string error;
  std::unique_ptr<platform::Console> console =
      open_terminal ? open_terminal(error) : nullptr;
  if (!console) {
    err << "kelprint: no terminal for the preview"
        << (error.empty() ? "" : ": " + error) << "\n";
    return kExitNoOutput;
  }
  std::string notice = problem;
  if (!device.notice.empty()) {
    notice += (notice.empty() ? "" : "; ") + device.notice;
  }
  Preview viewer(document, *console, Cp850(notice));
  viewer.Run();
  return kExitOk;
}

}  // namespace

int KelprintMain(const std::vector<std::string>& arguments,
                 const TerminalOpener& open_terminal, std::ostream& out,
                 std::ostream& err) {
  Options options;
  if (!ParseArguments(arguments, options, err)) return kExitUsage;
  LoadSessionEnvironment();
  const std::string file =
      options.file.empty()
          ? platform::NativePath(Session().tmp_dir + "kelprint.tmp")
          : options.file;

  std::string bytes;
  std::string error;
  if (!ReadWholeFile(file, bytes, error)) {
    err << "kelprint: cannot read the print file " << file << ": " << error
        << "\n";
    return kExitNoPrintFile;
  }
  PrintDocument document = ReadPrintFile(bytes);
  std::string problem;
  if (document.first_problem) {
    problem = document.first_problem->Describe();
    if (document.problem_count > 1) {
      problem +=
          " (" + std::to_string(document.problem_count - 1) + " more problems)";
    }
    err << "kelprint: " << file << " " << problem << "\n";
  }

  Device device = ParseDevice(
      options.has_device ? options.device : document.device, Session().tmp_dir);
  switch (device.kind) {
    case DeviceKind::kPreview:
      if (!device.notice.empty()) err << "kelprint: " << device.notice << "\n";
      return ShowPreview(document, device, problem, open_terminal, err);
    case DeviceKind::kText:
      if (!WriteWholeFile(device.path, RenderText(document), error)) {
        err << "kelprint: cannot write " << device.path << ": " << error
            << "\n";
        return kExitNoOutput;
      }
      out << "kelprint: " << Pages(document) << " written to " << device.path
          << "\n";
      return kExitOk;
    case DeviceKind::kPdf:
    case DeviceKind::kSpooler:
      if (!RenderPdfFile(document, device.path, error)) {
        err << "kelprint: cannot write " << device.path << ": " << error
            << "\n";
        return kExitNoOutput;
      }
      if (device.kind == DeviceKind::kPdf) {
        out << "kelprint: " << Pages(document) << " written to " << device.path
            << "\n";
        return kExitOk;
      }
      if (document.pages.empty()) {
        err << "kelprint: nothing to print\n";
        return kExitOk;
      }
      if (!SendToSpooler(device.path, device.queue, error)) {
        err << "kelprint: " << error << "\n";
        return kExitNoOutput;
      }
      out << "kelprint: " << Pages(document) << " sent to the printer"
          << (device.queue.empty() ? "" : " " + device.queue) << "\n";
      return kExitOk;
  }
  return kExitOk;
}

}  // namespace tarnevos::kelprint
