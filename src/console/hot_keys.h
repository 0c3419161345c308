#ifndef TARNEVOS_CONSOLE_HOT_KEYS_H_
#define TARNEVOS_CONSOLE_HOT_KEYS_H_

// The screens the key reader opens wherever a key is read: Alt+X the
// calculator, Alt+C the calendar.
namespace tarnevos {

// Installs Calculator and CalendarPicker as the key reader's hot-key
// screens. Until this is called Alt+X and Alt+C open nothing.
void InstallHotKeyScreens();

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_HOT_KEYS_H_
