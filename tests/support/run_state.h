#ifndef TARNEVOS_TESTS_SUPPORT_RUN_STATE_H_
#define TARNEVOS_TESTS_SUPPORT_RUN_STATE_H_

namespace tarnevos::testing {

// Puts every run-wide variable of the program back as it is before
// start-up, so that each test starts clean whatever ran before it: the
// session and run values, the date, number and text settings, the form
// tables, hooks and report parameters, the report's work tables, the
// open-file table and the record manager, the lookup list, the window
// stack, the keyboard layer, the field editor and the print file; and the
// platform's replaceable services: the built-in memory console as the
// console, the real clock, sleeper, program runner and file system, and
// the default fatal stop. Call it in SetUp and TearDown.
void ResetRunState();

}  // namespace tarnevos::testing

#endif  // TARNEVOS_TESTS_SUPPORT_RUN_STATE_H_
