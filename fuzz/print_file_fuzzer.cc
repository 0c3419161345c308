// Print files of any bytes through the print program's reader, its text
// renderer, its preview and (for small inputs) its PDF renderer; and
// sequences of print operations whose file must read back without a single
// bad line.
#include <sanitizer/lsan_interface.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "kelprint/pdf_renderer.h"
#include "kelprint/preview.h"
#include "kelprint/print_document.h"
#include "kelprint/text_renderer.h"
#include "platform/console/memory_console.h"
#include "print/print_file.h"
#include "settings/session.h"

namespace {

using tarnevos::kelprint::PrintDocument;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

void CheckDocument(const PrintDocument& document) {
  using namespace tarnevos::kelprint;
  Check(document.pages.size() <= static_cast<size_t>(kMaxPages), "pages");
  for (const Page& page : document.pages) {
    Check(page.length >= 1 && page.length <= kMaxPageLength, "page length");
    Check(page.rows.size() <= static_cast<size_t>(page.length), "rows");
    for (const PageRow& row : page.rows) {
      Check(row.text.size() == row.styles.size(), "styles");
      Check(row.text.size() <= static_cast<size_t>(kMaxLineWidth), "width");
      for (char c : row.text) {
        auto byte = static_cast<unsigned char>(c);
        Check(byte >= 32 && byte != 127 && byte != 255, "control in cell");
      }
    }
  }
}

void RenderEverywhere(std::string_view bytes) {
  PrintDocument document = tarnevos::kelprint::ReadPrintFile(bytes);
  CheckDocument(document);
  std::string text = tarnevos::kelprint::RenderText(document);
  Check(text.find('\r') == std::string::npos, "no CR in the text");

  tarnevos::platform::MemoryConsole console;
  // The language follows the input, so every language's texts are drawn.
  tarnevos::kelprint::Preview preview(
      document, console, std::string(bytes.substr(0, 10)),
      static_cast<tarnevos::Language>(bytes.size() % tarnevos::kLanguageCount));
  preview.Draw();
  for (int key : {0x5100, 0x4D00, 0x4D00, 0x5000, 0x4F00, 0x4800, 0x4700}) {
    tarnevos::platform::InputEvent event;
    event.kind = tarnevos::platform::InputEvent::Kind::kKey;
    event.extended = true;
    event.key = key;
    preview.HandleEvent(event);
  }
  preview.Draw();

  // A PDF costs milliseconds (fonts are embedded): one small input in
  // sixteen is drawn.
  if (bytes.size() <= 512 && bytes.size() % 16 == 0 &&
      document.pages.size() <= 4) {
    std::string error;
    size_t written = 0;
    bool ok = tarnevos::kelprint::RenderPdf(
        document, tarnevos::kelprint::PdfSettings{},
        [&](const unsigned char*, size_t size) {
          written += size;
          return true;
        },
        error);
    Check(ok && written > 0, "pdf");
  }
}

const std::string& ScratchDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/print-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return std::string(made == nullptr ? "/tmp" : made) + "/";
  }();
  return dir;
}

// Reads operations from the bytes and checks that the print program reads
// what the writer wrote without complaint.
void WriteAndReadBack(std::string_view bytes) {
  tarnevos::TEST_MutableSession().tmp_dir = ScratchDir();
  tarnevos::TEST_ResetPrintFile();
  tarnevos::OpenPrintFile("TXT");
  bool too_wide = false;
  size_t pos = 0;
  auto next = [&]() -> unsigned char {
    return pos < bytes.size() ? static_cast<unsigned char>(bytes[pos++]) : 0;
  };
  auto take = [&](size_t length) {
    std::string_view part = bytes.substr(std::min(pos, bytes.size()), length);
    pos += part.size();
    return std::string(part);
  };
  tarnevos::PrintPage(66);
  while (pos < bytes.size()) {
    unsigned char op = next();
    switch (op % 4) {
      case 0:
        tarnevos::PrintPage(static_cast<int16_t>(1 + next() % 100));
        break;
      case 1: {
        static constexpr const char* kCodes[] = {"@e", "q", "i"};
        tarnevos::PrintControl(kCodes[next() % 3]);
        break;
      }
      case 2: {
        std::string code = take(next() % 16);
        tarnevos::PrintJustify(code);
        break;
      }
      default: {
        int16_t column = static_cast<int16_t>(next() % 200);
        int16_t feeds = static_cast<int16_t>(next() % 4);
        std::string text = take(next() % 64);
        int start = column == 0 ? tarnevos::PrintColumn() + 1 : column;
        if (start + static_cast<int>(text.size()) >
            tarnevos::kelprint::kMaxLineWidth) {
          too_wide = true;
        }
        tarnevos::PrintText(column, text, feeds);
        break;
      }
    }
  }
  tarnevos::ClosePrintFile();
  std::FILE* file = std::fopen((ScratchDir() + "kelprint.tmp").c_str(), "rb");
  Check(file != nullptr, "print file written");
  std::string written;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    written.append(buffer, got);
  }
  std::fclose(file);
  PrintDocument document = tarnevos::kelprint::ReadPrintFile(written);
  CheckDocument(document);
  if (!too_wide && document.first_problem) {
    std::fprintf(stderr, "%s\n", document.first_problem->Describe().c_str());
    Check(false, "the writer's file reads back without problems");
  }
}

}  // namespace

// fontconfig loses a few blocks, once, the first time it resolves each
// face; resolve both faces before the first input, out of the leak check's
// sight, so that later leak checks see only what an input leaks.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __lsan_disable();
  std::string error;
  tarnevos::kelprint::RenderPdf(
      tarnevos::kelprint::ReadPrintFile(
          "DEVICE\r\n 1 ,regular, 1 \r\n*i\r\n 1 ,italic, 1 \r\n"),
      tarnevos::kelprint::PdfSettings{},
      [](const unsigned char*, size_t) { return true; }, error);
  __lsan_enable();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  RenderEverywhere(bytes);
  WriteAndReadBack(bytes);
  return 0;
}
