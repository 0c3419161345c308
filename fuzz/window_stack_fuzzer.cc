// WinPush.tmp as read back: the window stack's file replaced by arbitrary
// bytes while windows are open, then the windows closed. Whatever the file
// holds, closing never crashes, never writes outside the screen, and the
// stack ends empty with its file gone.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "console/windows.h"
#include "platform/console/memory_console.h"
#include "platform/system/files.h"
#include "settings/session.h"

namespace {

using namespace tarnevos;

const std::string& TmpDir() {
  static const std::string dir = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarnevos-win-fuzz-XXXXXX")
            .string();
    const char* made = ::mkdtemp(pattern.data());
    return std::string(made == nullptr ? "." : made) + "/";
  }();
  return dir;
}

void Check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "window_stack_fuzzer: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TEST_ResetWindows();
  TEST_MutableSession().tmp_dir = TmpDir();
  platform::MemoryConsole& console = platform::BuiltInMemoryConsole();
  platform::SetConsole(&console);
  // Two windows open, then their file replaced.
  const int depth = size > 0 ? 1 + data[0] % 3 : 1;
  for (int i = 0; i < depth; ++i) {
    PushWindow(static_cast<int16_t>(2 + i), static_cast<int16_t>(3 + i),
               static_cast<int16_t>(10 + i), static_cast<int16_t>(40 + i));
  }
  {
    std::ofstream out(TmpDir() + "WinPush.tmp",
                      std::ios::binary | std::ios::trunc);
    if (size > 1) {
      out.write(reinterpret_cast<const char*>(data) + 1,
                static_cast<std::streamsize>(size - 1));
    }
  }
  for (int i = 0; i <= depth; ++i) PopWindow();
  Check(WindowDepth() == 0, "windows left open");
  Check(!std::filesystem::exists(TmpDir() + "WinPush.tmp"),
        "the stack file outlived its windows");
  // The stack works again afterwards.
  PushWindow(1, 1, 25, 80);
  PopWindow();
  Check(WindowDepth() == 0, "a fresh stack does not close");
  return 0;
}
