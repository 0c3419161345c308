#ifndef TARNEVOS_PRINT_PRINT_FILE_H_
#define TARNEVOS_PRINT_PRINT_FILE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The print file TmpDir + "kelprint.tmp": CP850 lines ended by CR LF, one
// command per line, read by the suite's print program KELPRINT.
namespace tarnevos {

// Creates (or empties) the print file and writes "DEVICE" + target.
void OpenPrintFile(std::string_view target);
void ClosePrintFile();
// "PAGE" + length; resets the line and column counters.
void PrintPage(int16_t length);
// "*" + code.
void PrintControl(std::string_view code);
// "JUS" + normalised code; the caller's code becomes the normalised one.
void PrintJustify(std::string& code);
// One text line: column (0 continues the line), text, line feeds.
void PrintText(int16_t column, std::string_view text, int16_t line_feeds);
// Starts ExeDir + "KELPRINT" and waits for it, handing the terminal over.
void RunPrintProgram();
// Abandons the report being written: closes the print file and removes it,
// so that nothing is left that looks like a finished report, and makes a
// following RunPrintProgram do nothing until the next OpenPrintFile.
void DiscardPrintFile();

// Where the two print failures (a print file that cannot be written, a
// print program that cannot be started) are told: by default a message box
// that waits for a key. A run without a terminal gives a reporter that
// receives the message (CP850) instead; nullptr restores the message box.
using PrintFailureReporter = std::function<void(const std::string& message)>;
void SetPrintFailureReporter(PrintFailureReporter reporter);

// How the last report's printing went (since the last OpenPrintFile).
struct PrintOutcome {
  bool file_complete = false;  // the print file was written and closed whole
  bool program_run = false;    // the print program was started and awaited
  int program_exit_code = 0;   // its exit code, when it ran
};
PrintOutcome LastPrintOutcome();

// Bookkeeping of the print file.
int16_t PrintLine();        // lines advanced on the current page
int16_t PrintColumn();      // column reached on the current line
int16_t PrintPageLength();  // length sent by the last page line

// Back to the start-up state (closes a file left open).
void TEST_ResetPrintFile();

}  // namespace tarnevos

#endif  // TARNEVOS_PRINT_PRINT_FILE_H_
