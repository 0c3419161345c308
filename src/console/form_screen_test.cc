#include "console/form_screen.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "console/field_editor.h"
#include "console/form_table.h"
#include "console/windows.h"
#include "platform/console/memory_console.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "support/form_tables.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/dates.h"
#include "util/text.h"

namespace tarnevos {
namespace {

using platform::BuiltInMemoryConsole;
using platform::MemoryConsole;

using testing::kMoveKeys;
using testing::MakeField;
using testing::SetForm;

// Four text fields of three characters; the third is read-only.
void SetFourFieldForm(int number = 3) {
  SetForm(number, kMoveKeys,
          {MakeField(2, 1, "A: ", 3), MakeField(3, 1, "B: ", 3),
           MakeField(4, 1, "C: ", 3, 0, field_flag::kReadOnly),
           MakeField(5, 1, "D: ", 3)});
}

int16_t runner_calls = 0;
int16_t runner_lookup = 0, runner_form = 0, runner_field = 0;
int16_t StoringRunner(int16_t lookup, int16_t form, int16_t field) {
  ++runner_calls;
  runner_lookup = lookup;
  runner_form = form;
  runner_field = field;
  SetColour("n");  // as a list leaves it when it closes
  return AcceptFieldValue(form, "007", field, 0) == 0 ? 0 : -1;
}
int16_t CancelledRunner(int16_t, int16_t, int16_t) {
  ++runner_calls;
  return -1;
}

class FormScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::SetUpFormSession(scratch_.path());
    TEST_MutableSession().menu_title = " Prova ";
    runner_calls = 0;
  }
  void TearDown() override { testing::ResetRunState(); }

  MemoryConsole& con() { return BuiltInMemoryConsole(); }
  void Keys(const std::vector<int>& codes) { con().PushKeys(codes); }
  KeyCode Run(int16_t form, KeyCode key = 0) {
    FormScreen(form, key);
    EXPECT_EQ(con().ExhaustedWaits(), 0) << "the script ran out";
    EXPECT_EQ(con().PendingEvents(), 0u) << "keys left unread";
    return key;
  }
  std::string Screen(int row, int column, int length) {
    return con().RowText(row).substr(column - 1, length);
  }

  testing::ScratchDir scratch_;
  testing::ScopedEnv env_{{"KELROOT", scratch_.path()}};
};

TEST_F(FormScreenTest, DrawsTheTitleLabelsAndValuesByType) {
  SetForm(3, kMoveKeys,
          {MakeField(2, 1, "Nom: ", 6), MakeField(3, 1, "Data: ", 10, 1),
           MakeField(4, 1, "Cop: ", 3, 3), MakeField(5, 1, "Cop: ", 3, 3),
           MakeField(6, 1, "Si? ", 1, 0, 0, "|S,Si|N,No"),
           MakeField(7, 1, "Clau: ", 6, 0, field_flag::kSecret),
           MakeField(8, 1, "Text: ", 8)});
  FindField(3, 1)->value = "Joan  ";
  FindField(3, 2)->value = "050106    ";
  FindField(3, 3)->value = "5  ";
  FindField(3, 4)->value = "p  ";
  FindField(3, 5)->value = "N";
  FindField(3, 5)->trailing_blanks = 2;
  FindField(3, 6)->value = "secret";
  FindField(3, 7)->value = "abcdefgh";
  FindField(3, 7)->width = 4;
  DrawForm(3);
  EXPECT_EQ(Screen(1, 37, 7), " Prova ");
  EXPECT_EQ(con().ColourAt(1, 38), 0x70);
  EXPECT_EQ(Screen(2, 1, 11), "Nom: Joan  ");
  EXPECT_EQ(con().ColourAt(2, 1), 0x07);
  EXPECT_EQ(con().ColourAt(2, 6), 0x0F);
  EXPECT_EQ(Screen(3, 1, 16), "Data: 5/1/2006  ");
  EXPECT_EQ(Screen(4, 1, 8), "Cop:   5");
  EXPECT_EQ(Screen(5, 1, 8), "Cop: P  ");
  EXPECT_EQ(Screen(6, 1, 7), "Si? No ");
  EXPECT_EQ(Screen(7, 1, 12), "Clau:       ");
  EXPECT_EQ(Screen(8, 1, 10), "Text: abcd");
  EXPECT_EQ(Screen(9, 7, 4), "efgh");

  // The title is centred on column 41, halves rounded to even.
  const std::pair<const char*, int> titles[] = {
      {"123456", 38}, {"123456789", 37}, {"12345678901", 35}};
  for (const auto& [title, column] : titles) {
    con().ClearScreen();
    TEST_MutableSession().menu_title = title;
    DrawForm(3);
    EXPECT_EQ(Screen(1, column, static_cast<int>(std::string(title).size())),
              title);
    EXPECT_EQ(Screen(1, column - 1, 1), " ");
  }
}

TEST_F(FormScreenTest, MovesBetweenFieldsInBothDirections) {
  SetFourFieldForm();
  Keys({'a', key::kEnter,             // 1 -> 2
        'b', key::kDown,              // 2 -> 4, past the read-only 3
        'd', key::kUp,                // 4 -> 2, past 3 again
        'B', key::kShiftTab,          // 2 -> 1
        key::kUp,                     // on the first field: stays
        key::kPgDn, 'D', key::kPgUp,  // to the last and back
        'A', key::kTab,               // 1 -> 2
        key::kEnter, key::kEnter});   // Enter on the last field accepts
  EXPECT_EQ(Run(3), key::kEnter);
  EXPECT_EQ(Field(3, 1).value, "A  ");
  EXPECT_EQ(Field(3, 2).value, "B  ");
  EXPECT_EQ(Field(3, 3).value, "   ");
  EXPECT_EQ(Field(3, 4).value, "D  ");

  Keys({key::kDown, key::kDown, key::kDown, key::kDown, 2 /* Ctrl+B */});
  EXPECT_EQ(Run(3), key::kCtrlB);
}

TEST_F(FormScreenTest, EscGoesToTheFirstFieldAndThenCancels) {
  SetFourFieldForm();
  Keys({'a', key::kEnter, 'b', key::kEnter, 'x', key::kEsc, key::kEsc});
  EXPECT_EQ(Run(3), key::kEsc);
  EXPECT_EQ(Field(3, 1).value, "a  ");
  EXPECT_EQ(Field(3, 2).value, "b  ");
  EXPECT_EQ(Field(3, 4).value, "   ");  // the Esc dropped what was typed
  EXPECT_EQ(WindowDepth(), 0);
}

TEST_F(FormScreenTest, ContinuationFormsChainAndCloseTogether) {
  SetForm(3, kMoveKeys, {MakeField(2, 1, "A: ", 3), MakeField(3, 1, "B: ", 3)},
          4);
  SetForm(4, kMoveKeys, {MakeField(1, 1, "P: ", 3), MakeField(2, 1, "Q: ", 3)},
          0, {0, 10, 20, 14, 50});
  con().Write(12, 30, "under", 0x07);
  Keys({key::kEnter, key::kEnter,  // the last field opens the continuation
        key::kUp,                  // its first field goes back to B
        'x', key::kEnter,          // B again, then the continuation
        'p', key::kEnter, 'q', key::kEnter});
  EXPECT_EQ(Run(3), key::kEnter);
  EXPECT_EQ(Field(3, 2).value, "x  ");
  EXPECT_EQ(Field(4, 1).value, "p  ");
  EXPECT_EQ(Field(4, 2).value, "q  ");
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_EQ(Screen(12, 30, 5), "under");

  // F2 opens it from any field; Esc in it keeps the parent open.
  Keys({key::kF2, key::kEsc, 'y', key::kCtrlB});
  EXPECT_EQ(Run(3), key::kCtrlB);
  EXPECT_EQ(Field(3, 1).value, "y  ");
}

TEST_F(FormScreenTest, RefusesValuesByTypeWithABeep) {
  const struct {
    int16_t type;
    const char* typed;
    bool accepted;
    const char* stored;
    const char* shown;
  } cases[] = {
      {1, "310299", false, "", ""},
      {1, "29/02/2024", true, "29/02/2024", "29/2/2024 "},
      {1, "", true, "150324", "15/3/2024 "},  // blank: the working date
      {2, "12", true, "12", "12"},
      {2, "1a", false, "", ""},
      {2, "-1", false, "", ""},
      {2, "1.5", false, "", ""},
      {3, "p", true, "p", "P  "},
      {3, "5", true, "5", "  5"},
      {3, "x", false, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.typed) + " type " + std::to_string(c.type));
    TEST_ResetFormTables();
    con().Reset();
    SetForm(3, kMoveKeys, {MakeField(2, 1, "V: ", 10, c.type)});
    con().PushText(c.typed);
    Keys({key::kEnter});
    if (!c.accepted) Keys({key::kEsc});
    EXPECT_EQ(Run(3), c.accepted ? key::kEnter : key::kEsc);
    EXPECT_EQ(con().beeps(), c.accepted ? 0 : 1);
    EXPECT_EQ(Field(3, 1).value, FitText(c.stored, 10));
    if (c.accepted) {
      EXPECT_EQ(Screen(2, 4, 10), FitText(c.shown, 10));
    }
  }

  // A refused text stays in the field for correction.
  TEST_ResetFormTables();
  con().Reset();
  SetForm(3, kMoveKeys, {MakeField(2, 1, "V: ", 3, 2)});
  Keys({'1', 'x', key::kEnter, key::kEnd, key::kBackspace, '7', key::kEnter});
  EXPECT_EQ(Run(3), key::kEnter);
  EXPECT_EQ(Field(3, 1).value, "17 ");
  EXPECT_EQ(con().beeps(), 1);
}

TEST_F(FormScreenTest, FlagsBlankSecretReadOnlyAndCursorAtEnd) {
  SetForm(3, kMoveKeys,
          {MakeField(2, 1, "A: ", 3, 0, field_flag::kBlankOnVisit),
           MakeField(3, 1, "B: ", 4, 0, field_flag::kSecret),
           MakeField(4, 1, "C: ", 4, 0, field_flag::kCursorAtEnd)});
  FindField(3, 1)->value = "abc";
  FindField(3, 2)->value = "pw  ";
  FindField(3, 3)->value = "ab  ";
  Keys({key::kEnter,  // A left blank keeps abc
        'z', 'z', key::kEnter, 'c', key::kEnter});
  EXPECT_EQ(Run(3), key::kEnter);
  EXPECT_EQ(Field(3, 1).value, "abc");
  EXPECT_EQ(Field(3, 2).value, "zz  ");
  EXPECT_EQ(Field(3, 3).value, "abc ");
  EXPECT_FALSE(con().ScreenContains("pw"));
  EXPECT_FALSE(con().ScreenContains("zz"));
  EXPECT_EQ(Screen(3, 4, 4), "XXXX");
  EXPECT_FALSE(EchoMasked());

  Keys({'x', key::kCtrlB});
  EXPECT_EQ(Run(3), key::kCtrlB);
  EXPECT_EQ(Field(3, 1).value, "x  ");

  // A form of read-only fields is drawn and closes with the key it got.
  SetForm(5, kMoveKeys, {MakeField(2, 1, "Nota", 0, 0, field_flag::kReadOnly)});
  EXPECT_EQ(Run(5, 0x1234), 0x1234);
  EXPECT_EQ(Screen(2, 1, 4), "Nota");
}

TEST_F(FormScreenTest, ClicksOnAnotherFieldOrItsLabelMoveThere) {
  SetForm(3, kMoveKeys,
          {MakeField(2, 3, "Primer: ", 3), MakeField(4, 3, "Segon: ", 3),
           MakeField(6, 3, "Fix: ", 3, 0, field_flag::kReadOnly)},
          0, {0, 5, 10, 15, 60});
  // Window at row 5, column 10: field 2's label starts at screen (9, 13).
  con().PushClick(9, 14);  // on field 2's label
  Keys({'s'});
  con().PushClick(11, 14);  // on the read-only field: stays
  con().PushClick(20, 70);  // outside the form: stays
  Keys({key::kEnd, 't', key::kCtrlB});
  EXPECT_EQ(Run(3), key::kCtrlB);
  EXPECT_EQ(Field(3, 1).value, "   ");
  EXPECT_EQ(Field(3, 2).value, "st ");
}

TEST_F(FormScreenTest, F1ShowsHelpOrSaysThereIsNone) {
  // The help (here the message that there is none) takes the key that
  // closes it; the form goes on. Without a menu name F1 says so too.
  for (const char* menu_name : {"TARNEVOS  ", ""}) {
    SetFourFieldForm();
    TEST_MutableSession().menu_name = menu_name;
    Keys({key::kF1, key::kEsc, 'h', key::kCtrlB});
    EXPECT_EQ(Run(3), key::kCtrlB) << menu_name;
    EXPECT_EQ(Field(3, 1).value, "h  ") << menu_name;
  }
}

TEST_F(FormScreenTest, F4RunsTheLookupAndMovesOnWhenARecordIsChosen) {
  SetFourFieldForm();
  FindField(3, 2)->lookup = 7;
  FindField(3, 4)->lookup = 8;

  Keys({key::kEnter, key::kF4, key::kEsc, key::kEsc});
  EXPECT_EQ(Run(3), key::kEsc);  // no runner: F4 does nothing

  SetLookupRunner(&StoringRunner);
  Keys({key::kF4,               // field 1 has no lookup
        key::kEnter, key::kF4,  // field 2: chosen, on to field 4
        key::kF4});             // the last field: closes with Enter
  EXPECT_EQ(Run(3), key::kEnter);
  EXPECT_EQ(runner_calls, 2);
  EXPECT_EQ(runner_lookup, 8);
  EXPECT_EQ(runner_form, 3);
  EXPECT_EQ(runner_field, 4);
  EXPECT_EQ(Field(3, 2).value, "007");
  EXPECT_EQ(Field(3, 4).value, "007");
  EXPECT_EQ(con().ColourAt(3, 4), 0x0F);  // shown highlighted

  SetLookupRunner(&CancelledRunner);
  runner_calls = 0;
  Keys({key::kPgDn, key::kF4, 'w', key::kEnter});
  EXPECT_EQ(Run(3), key::kEnter);
  EXPECT_EQ(runner_calls, 1);
  EXPECT_EQ(Field(3, 4).value, "w07");
}

int16_t check_calls = 0;
// Keeps the operator in form 3 the first time it closes with Ctrl+B.
int16_t CheckOnce(int16_t form, KeyCode key) {
  ++check_calls;
  return form == 3 && key == key::kCtrlB && check_calls == 1 ? 1 : 0;
}

TEST_F(FormScreenTest, TheInstalledCheckDecidesWhetherTheFormCloses) {
  SetFourFieldForm();
  check_calls = 0;
  SetFormCheck(&CheckOnce);
  // Refused once: the operator stays in the form and closes it again.
  Keys({'x', key::kCtrlB, key::kCtrlB});
  EXPECT_EQ(Run(3), key::kCtrlB);
  EXPECT_EQ(check_calls, 2);
  EXPECT_EQ(Field(3, 1).value, "x  ");
  EXPECT_EQ(CheckForm(3, key::kEsc), 0);

  SetFormCheck(nullptr);  // without a check every form closes
  Keys({key::kCtrlB});
  EXPECT_EQ(Run(3), key::kCtrlB);
}

}  // namespace
}  // namespace tarnevos
