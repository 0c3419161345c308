#include "console/hot_keys.h"

#include "console/calculator.h"
#include "console/calendar.h"
#include "console/keyboard.h"

namespace tarnevos {

void InstallHotKeyScreens() {
  SetCalculatorScreen(&Calculator);
  SetCalendarScreen(&CalendarPicker);
}

}  // namespace tarnevos
