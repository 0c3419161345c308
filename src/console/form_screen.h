#ifndef TARNEVOS_CONSOLE_FORM_SCREEN_H_
#define TARNEVOS_CONSOLE_FORM_SCREEN_H_

#include <cstdint>
#include <string_view>

#include "console/keyboard.h"

// The parameter form screen: shows one form of the form tables
// (console/form_table.h), lets the operator fill its fields one after
// another with the field editor, validates and stores each value by the
// field's type, offers help (F1), record lookups (F4) and continuation
// forms, and returns the key that closed the form.
namespace tarnevos {

// Field flags and types of the form tables.
namespace field_flag {
constexpr int16_t kBlankOnVisit = 1;
constexpr int16_t kSecret = 2;
constexpr int16_t kReadOnly = 4;
constexpr int16_t kCursorAtEnd = 8;
}  // namespace field_flag
namespace field_type {
constexpr int16_t kText = 0, kDate = 1, kNumber = 2, kNumberOrP = 3;
}  // namespace field_type

// Shows form `form` (a negative number shows form |form| as a continuation
// of the calling form) and runs it. `key` is in/out: a form without
// editable fields closes at once with the key it was given. On return `key`
// is the closing key: 27 (Esc) cancelled; 13 (Enter), End or Ctrl+B
// accepted; any other key of the form's key list that the form does not
// handle itself, for the caller to act on. Values accepted stay in the
// form tables.
void FormScreen(int16_t& form, KeyCode& key);

// The menu title, the labels and every value of a form.
void DrawForm(int16_t form);
// One stored value after its label, formatted by the field's type.
void ShowFieldValue(int16_t form, int16_t field);

// Validates an edited text by the field's type (date, number, number or
// "P", text), stores it blank-padded to the field's length and redisplays
// it. Returns 0 when accepted, 1 when refused (nothing stored) or when the
// form or field does not exist.
int16_t AcceptFieldValue(int16_t form, std::string_view text, int16_t field,
                         KeyCode key);

// The check run when a form closes with `key`: the installed form check,
// which returns 0 to let the form close and 1 to keep the operator in it.
// Without one every form closes.
int16_t CheckForm(int16_t form, KeyCode key);
using FormCheck = int16_t (*)(int16_t form, KeyCode key);
void SetFormCheck(FormCheck check);

// F4 on a field with a lookup number runs the installed lookup runner with
// (lookup number, form, field). The runner returns 0 when a record was
// chosen and its code stored into the field through AcceptFieldValue, any
// other value otherwise. Until one is installed F4 does nothing.
using LookupRunner = int16_t (*)(int16_t lookup, int16_t form, int16_t field);
void SetLookupRunner(LookupRunner runner);

// No lookup runner and no form check installed.
void TEST_ResetFormScreen();

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_FORM_SCREEN_H_
