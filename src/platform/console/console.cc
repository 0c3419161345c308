#include "platform/console/console.h"

#include "platform/console/memory_console.h"

namespace tarnevos::platform {
namespace {

Console* installed_console = nullptr;

}  // namespace

MemoryConsole& BuiltInMemoryConsole() {
  // Never destroyed, so code running from static destructors or atexit
  // handlers still finds a console.
  static MemoryConsole* const console = new MemoryConsole();
  return *console;
}

Console& CurrentConsole() {
  if (installed_console != nullptr) return *installed_console;
  return BuiltInMemoryConsole();
}

void SetConsole(Console* console) { installed_console = console; }

void TEST_ResetConsole() {
  installed_console = nullptr;
  BuiltInMemoryConsole().Reset();
}

}  // namespace tarnevos::platform
