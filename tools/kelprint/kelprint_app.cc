#include "kelprint/kelprint_app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

#include "kelprint/devices.h"
#include "kelprint/message_screen.h"
#include "kelprint/options.h"
#include "kelprint/outcome.h"
#include "kelprint/paper.h"
#include "kelprint/pdf_renderer.h"
#include "kelprint/preview.h"
#include "kelprint/print_document.h"
#include "kelprint/text_renderer.h"
#include "kelprint/texts.h"
#include "platform/system/paths.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "util/codepage.h"

namespace tarnevos::kelprint {
namespace {

#ifdef TARNEVOS_VERSION
constexpr const char* kVersion = TARNEVOS_VERSION;
#else
constexpr const char* kVersion = "unknown";
#endif

// The command line (kelprint/options.h): false with the exit code when the
// program ends here (--help, --version, a usage error, a bad --root).
bool TakeArguments(const std::vector<std::string>& arguments,
                   KelprintArguments& options, int& exit_code,
                   std::ostream& out, std::ostream& err) {
  options = ParseKelprintArguments(arguments);
  switch (options.action) {
    case KelprintAction::kHelp:
      out << KelprintUsage();
      exit_code = kExitOk;
      return false;
    case KelprintAction::kVersion:
      out << KelprintVersion();
      exit_code = kExitOk;
      return false;
    case KelprintAction::kUsageError:
      err << "kelprint: " << options.error << "\n" << KelprintUsage();
      exit_code = kExitUsage;
      return false;
    case KelprintAction::kRun:
      break;
  }
  if (!ApplyKelprintLocations(options, err)) {
    exit_code = kExitUsage;
    return false;
  }
  if (options.device) options.device = Cp850(*options.device);
  return true;
}

// The print file's bytes and when it was last changed.
struct PrintFileBytes {
  std::string bytes;
  long long modified = 0;  // seconds since 1970
};

bool ReadWholeFile(const std::string& path, PrintFileBytes& file,
                   Outcome& failure) {
  failure.kind = Outcome::Kind::kCannotRead;
  failure.path = path;
  auto fail = [&](int error_number) {
    failure.system_error = error_number;
    failure.detail = std::strerror(error_number);
    return false;
  };
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error_number = errno;
    ::close(fd);
    return fail(error_number);
  }
  if (S_ISDIR(info.st_mode)) {
    ::close(fd);
    return fail(EISDIR);
  }
  file.modified = static_cast<long long>(info.st_mtime);
  file.bytes.clear();
  char buffer[65536];
  while (true) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error_number = errno;
      ::close(fd);
      return fail(error_number);
    }
    file.bytes.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes,
                    int& system_error) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (out) out.close();
  if (!out) {
    system_error = errno != 0 ? errno : EIO;
    return false;
  }
  return true;
}

// The PDF's date: SOURCE_DATE_EPOCH when it is set (the convention of
// reproducible builds), otherwise when the print file was last changed, so
// that the same print file always gives the same PDF.
std::string DocumentDate(long long modified, std::ostream& err) {
  const std::string epoch = platform::GetEnv("SOURCE_DATE_EPOCH");
  if (!epoch.empty()) {
    long long seconds = 0;
    const auto [end, status] =
        std::from_chars(epoch.data(), epoch.data() + epoch.size(), seconds);
    std::string date;
    if (status == std::errc() && end == epoch.data() + epoch.size()) {
      date = PdfDate(seconds);
    }
    if (!date.empty()) return date;
    err << "kelprint: SOURCE_DATE_EPOCH is not a usable number of seconds; "
           "the print file's date is used\n";
  }
  return PdfDate(modified);
}

PdfSettings SettingsFor(const PrintDocument& document, long long modified,
                        std::ostream& err) {
  PdfSettings settings;
  settings.paper = SystemPaper();
  settings.title = Utf8FromCp850(DocumentTitle(document));
  settings.creator = std::string("KELPRINT ") + kVersion;
  settings.date = DocumentDate(modified, err);
  return settings;
}

Outcome WriteText(const PrintDocument& document, const Device& device) {
  Outcome outcome;
  outcome.path = device.path;
  outcome.pages = static_cast<int>(document.pages.size());
  if (WriteWholeFile(device.path, RenderText(document), outcome.system_error)) {
    outcome.kind = Outcome::Kind::kTextWritten;
  } else {
    outcome.kind = Outcome::Kind::kCannotWrite;
    outcome.detail = std::strerror(outcome.system_error);
  }
  return outcome;
}

Outcome WritePdf(const PrintDocument& document, const Device& device,
                 const PdfSettings& settings) {
  Outcome outcome;
  outcome.path = device.path;
  outcome.pages = static_cast<int>(document.pages.size());
  outcome.kind = Outcome::Kind::kPdfWritten;
  if (!RenderPdfFile(document, settings, device.path, outcome.detail,
                     outcome.system_error)) {
    outcome.kind = Outcome::Kind::kCannotWrite;
  }
  return outcome;
}

Outcome Spool(const PrintDocument& document, const Device& device,
              const PdfSettings& settings) {
  Outcome outcome = WritePdf(document, device, settings);
  if (outcome.Failed()) return outcome;
  outcome.queue = device.queue;
  if (document.pages.empty()) {
    outcome.kind = Outcome::Kind::kNothingToSpool;
    return outcome;
  }
  SpoolResult spooled = SendToSpooler(device.path, device.queue);
  switch (spooled.status) {
    case SpoolResult::Status::kSent:
      outcome.kind = Outcome::Kind::kSpooled;
      outcome.job_id = spooled.job_id;
      break;
    case SpoolResult::Status::kMissing:
      outcome.kind = Outcome::Kind::kNoSpooler;
      break;
    case SpoolResult::Status::kCannotStart:
      outcome.kind = Outcome::Kind::kSpoolerFailed;
      outcome.exit_code = 127;
      outcome.detail = spooled.error;
      break;
    case SpoolResult::Status::kFailed:
      outcome.kind = Outcome::Kind::kSpoolerFailed;
      outcome.exit_code = spooled.exit_code;
      outcome.detail = spooled.output;
      break;
    case SpoolResult::Status::kStopped:
      outcome.kind = Outcome::Kind::kSpoolerFailed;
      outcome.exit_code = -1;
      outcome.detail = spooled.output;
      break;
  }
  return outcome;
}

// Tells the operator what happened: on the terminal, in the session's
// language, until a key is pressed; without a terminal on standard error.
// Failures also go to standard error, once the terminal is given back.
void Tell(const Outcome& outcome, const TerminalOpener& open_terminal,
          Language language, std::ostream& err) {
  std::string error;
  std::unique_ptr<platform::Console> console =
      open_terminal ? open_terminal(error) : nullptr;
  const bool shown = console != nullptr;
  if (console) {
    ShowMessage(*console, OutcomeLines(language, outcome),
                PressAKeyText(language), outcome.Failed());
    console.reset();
  }
  if (shown && !outcome.Failed()) return;
  err << "kelprint: " << EnglishSummary(outcome) << "\n";
}

int ShowPreview(const PrintDocument& document, const Device& device,
                const TerminalOpener& open_terminal, Language language,
                std::ostream& err) {
  std::string error;
  std::unique_ptr<platform::Console> console =
      open_terminal ? open_terminal(error) : nullptr;
  if (!console) {
    err << "kelprint: no terminal for the preview"
        << (error.empty() ? "" : ": " + error) << "\n";
    return kExitNoOutput;
  }
  std::string notice;
  if (document.first_problem) {
    notice =
        ProblemText(language, *document.first_problem, document.problem_count);
  }
  if (!device.unknown.empty()) {
    notice += (notice.empty() ? "" : "; ") +
              UnknownDeviceText(language, device.unknown);
  }
  Preview viewer(document, *console, notice, language);
  viewer.Run();
  return kExitOk;
}

}  // namespace

int KelprintMain(const std::vector<std::string>& arguments,
                 const TerminalOpener& open_terminal, std::ostream& out,
                 std::ostream& err) {
  KelprintArguments options;
  int exit_code = kExitOk;
  if (!TakeArguments(arguments, options, exit_code, out, err)) {
    return exit_code;
  }
  LoadSessionEnvironment();
  const Language language = SessionLanguage();
  const std::string file =
      options.file.empty()
          ? platform::NativePath(Session().tmp_dir + "kelprint.tmp")
          : options.file;

  PrintFileBytes print_file;
  Outcome failure;
  if (!ReadWholeFile(file, print_file, failure)) {
    Tell(failure, open_terminal, language, err);
    return kExitNoPrintFile;
  }
  PrintDocument document = ReadPrintFile(print_file.bytes);
  if (document.first_problem) {
    std::string problem = document.first_problem->Describe();
    if (document.problem_count > 1) {
      problem +=
          " (" + std::to_string(document.problem_count - 1) + " more problems)";
    }
    err << "kelprint: " << file << " " << problem << "\n";
  }

  Device device =
      ParseDevice(options.device.value_or(document.device), Session().tmp_dir);
  Outcome outcome;
  switch (device.kind) {
    case DeviceKind::kPreview:
      if (!device.unknown.empty()) {
        err << "kelprint: Unknown device \"" << Utf8FromCp850(device.unknown)
            << "\": shown on screen\n";
      }
      return ShowPreview(document, device, open_terminal, language, err);
    case DeviceKind::kText:
      outcome = WriteText(document, device);
      break;
    case DeviceKind::kPdf:
      outcome = WritePdf(document, device,
                         SettingsFor(document, print_file.modified, err));
      break;
    case DeviceKind::kSpooler:
      outcome = Spool(document, device,
                      SettingsFor(document, print_file.modified, err));
      break;
  }
  Tell(outcome, open_terminal, language, err);
  return outcome.Failed() ? kExitNoOutput : kExitOk;
}

}  // namespace tarnevos::kelprint
