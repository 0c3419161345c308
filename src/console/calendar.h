#ifndef TARNEVOS_CONSOLE_CALENDAR_H_
#define TARNEVOS_CONSOLE_CALENDAR_H_

#include <string>

// The pop-up calendar of Alt+C: one quarter of a year at the right edge of
// the screen (rows 1..24, columns 59..80), a highlighted day moved with the
// cursor keys, PgUp/PgDn (three months), Home/End (January, December).
namespace tarnevos {

// Runs the calendar from the session's working date (the computer's date
// when there is none). Returns the chosen day as FormatDate style 0 with
// the parts "dma" (F, f or Alt+F), or "" when left with Esc. The screen,
// the colour, the cursor and the accepted keys are as they were on return.
std::string CalendarPicker();

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_CALENDAR_H_
