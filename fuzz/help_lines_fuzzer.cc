// Help files and paragraphs of any content: the help viewer's line reader,
// the viewer itself on a memory console, and paragraph formatting with
// fuzzed widths, indents and alignments.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/keyboard.h"
#include "console/messages.h"
#include "console/windows.h"
#include "platform/console/memory_console.h"
#include "settings/session.h"

namespace {

using namespace tarnevos;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 32; }

size_t Visible(const std::string& line) {
  size_t count = 0;
  for (char c : line) count += IsControl(c) ? 0 : 1;
  return count;
}

std::string NonBlank(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

void CheckHelpLines(const std::string& bytes, int line_length) {
  const long count = HelpLineCount(bytes.size(), line_length);
  Check(count >= 0, "line count");
  if (line_length >= 1) {
    Check(static_cast<size_t>(count) * static_cast<size_t>(line_length) <=
              bytes.size() + static_cast<size_t>(line_length),
          "line count beyond the file");
  }
  for (long line = -1; line <= count + 2 && line < 300; ++line) {
    const std::string record = HelpFileLine(bytes, line_length, line);
    Check(record.size() <= static_cast<size_t>(std::max(line_length, 0)),
          "record longer than a line");
    if (line >= 1 && !record.empty()) {
      Check(bytes.compare(static_cast<size_t>(line - 1) *
                              static_cast<size_t>(line_length),
                          record.size(), record) == 0,
            "record is not the file's bytes");
    }
    size_t shown = 0;
    for (const HelpSegment& segment : HelpLineSegments(record)) {
      Check(!segment.text.empty(), "empty segment");
      Check(segment.attribute == 'n' || segment.attribute == 'h' ||
                segment.attribute == 'u' || segment.attribute == 'r',
            "unknown attribute");
      for (char c : segment.text) {
        Check(c != 30 && c != 31 && c != 16, "style byte shown");
      }
      shown += segment.text.size();
    }
    Check(shown <= 76, "more than 76 characters shown");
  }
}

void CheckParagraph(const std::string& text, int indent, int width,
                    char alignment) {
  const std::vector<std::string> lines =
      FormatParagraphLines(text, indent, width, std::string(1, alignment));
  Check(lines.size() <= text.size(), "more lines than characters");
  const char upper =
      (alignment >= 'a' && alignment <= 'z') ? alignment - 32 : alignment;
  const bool padded =
      std::string_view("ELINDRC").find(upper) != std::string_view::npos;
  std::string joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    const long line_indent =
        i == 0 ? std::max(indent, 0) : (indent < 0 ? -indent : 0);
    const size_t full = static_cast<size_t>(
        line_indent + std::max<long>(width - line_indent, 1));
    Check(!lines[i].empty(), "empty line");
    if (padded) {
      Check(Visible(lines[i]) == full, "padded line not at its width");
    } else {
      Check(Visible(lines[i]) <= full, "line wider than its width");
    }
    joined += lines[i];
  }
  // Only blanks (and the filling dashes) are added or dropped.
  if (upper != 'N') Check(NonBlank(joined) == NonBlank(text), "text changed");

  std::string in_place = text;
  FormatParagraph(in_place, static_cast<int16_t>(indent),
                  static_cast<int16_t>(width), std::string(1, alignment));
  Check(in_place == joined, "FormatParagraph differs from its lines");
}

// Runs the viewer over the bytes as a help file, with keys from the input.
void RunViewer(const std::string& bytes, const std::vector<uint8_t>& keys) {
  static const std::string directory = [] {
    // In memory where there is such a file system: a file is written per
    // input.
    char in_memory[] = "/dev/shm/help-fuzz-XXXXXX";
    char on_disk[] = "/tmp/help-fuzz-XXXXXX";
    const char* made = ::mkdtemp(in_memory);
    if (made == nullptr) made = ::mkdtemp(on_disk);
    if (made == nullptr || ::chdir(made) != 0) std::abort();
    ::mkdir("AJUDA", 0700);
    TEST_MutableSession().tmp_dir = std::string(made) + "/";
    return std::string(made);
  }();
  (void)directory;
  std::FILE* file = std::fopen("AJUDA/FUZZ.HLP", "wb");
  if (file == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);

  static constexpr KeyCode kKeys[] = {key::kDown,  key::kUp,   key::kPgDn,
                                      key::kPgUp,  key::kHome, key::kEnd,
                                      KeyCode{'x'}};
  platform::TEST_ResetConsole();
  TEST_ResetWindows();
  TEST_ResetKeyboard();
  platform::MemoryConsole& console = platform::BuiltInMemoryConsole();
  for (uint8_t k : keys) {
    const KeyCode code = kKeys[k % (sizeof(kKeys) / sizeof(kKeys[0]))];
    if (code < 256) {
      console.PushKey(code);
    } else {
      console.PushExtended(code);
    }
  }
  console.PushKey(key::kEsc);
  const platform::ScreenBuffer before = console.screen();
  ShowHelp("FUZZ");
  // An empty file is no help at all: a message that takes one key.
  if (!bytes.empty()) Check(console.PendingEvents() == 0, "keys left unread");
  Check(WindowDepth() == 0, "window left open");
  Check(console.screen() == before, "screen not restored");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int width = input.ConsumeIntegralInRange<int>(-10, 200);
  const int indent = input.ConsumeIntegralInRange<int>(-80, 80);
  const char alignment = input.ConsumeIntegral<char>();
  const int line_length = input.ConsumeIntegralInRange<int>(-2, 120);
  const std::vector<uint8_t> keys =
      input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 24));
  const std::string text = input.ConsumeRemainingBytesAsString();

  CheckHelpLines(text, line_length);
  CheckParagraph(text, indent, width, alignment);
  RunViewer(text, keys);
  return 0;
}
