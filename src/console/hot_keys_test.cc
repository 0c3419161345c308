#include "console/hot_keys.h"

#include <gtest/gtest.h>

#include <string>

#include "console/keyboard.h"
#include "console/windows.h"
#include "platform/console/memory_console.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/dates.h"
#include "util/numbers.h"

namespace tarnevos {
namespace {

using platform::BuiltInMemoryConsole;
using platform::MemoryConsole;

class HotKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    SessionSettings& session = TEST_MutableSession();
    session.tmp_dir = scratch_.path();
    session.terminal_dir = scratch_.path();
    session.language = "CAT";
    session.work_date = PackDigits("20060115");
    session.screen_colours = {{{15, 0}, {7, 0}, {0, 7}, {1, 7}, {14, 1}}};
  }
  void TearDown() override { testing::ResetRunState(); }

  MemoryConsole& con() { return BuiltInMemoryConsole(); }
  void PushAlt(int scan_code) { con().PushExtended(scan_code, {.alt = true}); }
  // Reads the keys the type-ahead holds.
  std::string DrainTypeAhead() {
    std::string typed;
    while (!TypeAhead().empty()) typed.push_back(static_cast<char>(WaitKey()));
    return typed;
  }

  testing::ScratchDir scratch_;
  testing::ScopedEnv env_{{"KELROOT", scratch_.path()}};
};

TEST_F(HotKeysTest, ResultsAreTypedIntoWhatFollows) {
  // Before the screens are installed the hot keys are plain keys.
  PushAlt(key::kAltX);
  EXPECT_EQ(WaitKey(), key::kAltX);
  EXPECT_EQ(TypeAhead(), "");

  InstallHotKeyScreens();
  PushAlt(key::kAltX);
  con().PushText("12.5F");
  EXPECT_EQ(WaitKey(), key::kAltX);
  EXPECT_EQ(DrainTypeAhead(), "1250");

  PushAlt(key::kAltC);
  con().PushExtended(key::kRight);
  con().PushKey('f');
  EXPECT_EQ(WaitKey(), key::kAltC);
  EXPECT_EQ(DrainTypeAhead(), "16/1/2006 ");

  // Esc in either gives nothing to type.
  PushAlt(key::kAltC);
  con().PushKey(key::kEsc);
  EXPECT_EQ(WaitKey(), key::kAltC);
  EXPECT_EQ(TypeAhead(), "");

  EXPECT_EQ(con().PendingEvents(), 0u);
  EXPECT_EQ(con().ExhaustedWaits(), 0);
  EXPECT_EQ(WindowDepth(), 0);
}

TEST_F(HotKeysTest, AnOpenScreenIsNotOpenedAgain) {
  // Alt+X inside the calculator and Alt+C inside the calendar are keys of
  // the open screen; a nested calculator would have taken "5F" itself and
  // left the outer one waiting.
  InstallHotKeyScreens();
  PushAlt(key::kAltX);
  PushAlt(key::kAltX);
  con().PushText("5F");
  EXPECT_EQ(WaitKey(), key::kAltX);
  EXPECT_EQ(DrainTypeAhead(), "500");

  // The calendar can be opened from the calculator, and its date is typed
  // into the calculator: "17/1/2006 " divides 17 by 1 and leaves 2006 as
  // the entry.
  PushAlt(key::kAltX);
  PushAlt(key::kAltC);
  con().PushExtended(key::kRight);
  con().PushExtended(key::kRight);
  PushAlt(key::kAltC);
  con().PushText("F");
  con().PushText("F");
  EXPECT_EQ(WaitKey(), key::kAltX);
  EXPECT_EQ(DrainTypeAhead(), "200600");
  EXPECT_EQ(con().PendingEvents(), 0u);
  EXPECT_EQ(con().ExhaustedWaits(), 0);
}

}  // namespace
}  // namespace tarnevos
