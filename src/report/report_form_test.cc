#include "report/report_form.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "console/form_screen.h"
#include "console/form_table.h"
#include "console/windows.h"
#include "data/data_files.h"
#include "data/lookup_list.h"
#include "platform/console/memory_console.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "support/form_tables.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/text.h"

namespace tarnevos {
namespace {

using platform::BuiltInMemoryConsole;
using platform::MemoryConsole;

class ReportFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::SetUpFormSession(scratch_.path());
    testing::SetReportForms();
    InstallReportHooks();
  }
  void TearDown() override { testing::ResetRunState(); }

  MemoryConsole& con() { return BuiltInMemoryConsole(); }
  void Keys(const std::vector<int>& codes) { con().PushKeys(codes); }
  KeyCode Run(int16_t form) {
    KeyCode key = 0;
    FormScreen(form, key);
    EXPECT_EQ(con().ExhaustedWaits(), 0) << "the script ran out";
    EXPECT_EQ(con().PendingEvents(), 0u) << "keys left unread";
    return key;
  }
  void SetValue(int16_t field, const std::string& value) {
    FindField(report_form::kParameterForm, field)->value = value;
  }

  testing::ScratchDir scratch_;
  testing::ScopedEnv env_{{"KELROOT", scratch_.path()}};
};

TEST_F(ReportFormTest, FormOneCheckSetsTheParametersAfterConfirmation) {
  Keys({key::kCtrlB, 's', key::kEnter});
  EXPECT_EQ(Run(1), key::kCtrlB);
  const ReportParameters& parameters = Parameters();
  EXPECT_EQ(parameters.cutoff_date, PackDigits("20240315"));
  EXPECT_EQ(parameters.range_from, PackDigits("00010000"));
  EXPECT_EQ(parameters.range_to, PackDigits("09990999"));
  EXPECT_EQ(parameters.copies, 1);
  EXPECT_EQ(Field(2, 1).value, "S");
  EXPECT_EQ(WindowDepth(), 0);

  // Enter alone answers No: back to the first field of form 1.
  Keys({key::kPgDn, '0', key::kEnter, key::kEnter, key::kEsc});
  EXPECT_EQ(Run(1), key::kEsc);
  EXPECT_EQ(Parameters().copies, 0);
  EXPECT_EQ(Field(2, 1).value, "N");

  // A range out of order fails at once, without asking.
  FindField(2, 1)->value = "Q";
  SetValue(report_form::kFirstCommunityField, "5  ");
  SetValue(report_form::kLastCommunityField, "3  ");
  Keys({key::kCtrlB, key::kEsc});
  EXPECT_EQ(Run(1), key::kEsc);
  EXPECT_EQ(Field(2, 1).value, "Q");

  // Blank unit numbers still give four-byte codes.
  EXPECT_EQ(CheckForm(1, key::kEsc), 0);
  SetValue(report_form::kFirstCommunityField, "3  ");
  SetValue(report_form::kFirstUnitField, "   ");
  SetValue(report_form::kLastUnitField, "   ");
  Keys({key::kEsc});
  EXPECT_EQ(CheckForm(1, key::kEnter), 1);
  EXPECT_EQ(Parameters().range_from, PackDigits("00030000"));
  EXPECT_EQ(Parameters().range_to, PackDigits("00030000"));
  // Other forms close unchecked.
  EXPECT_EQ(CheckForm(3, key::kEnter), 0);
}

// The parameters a batch run gets from its options are the form's.
TEST_F(ReportFormTest, EntriesGiveTheParametersTheFormWould) {
  const ReportParameters p =
      ParametersFromEntries("31/12/2026", " 12", "", "12", "7", "0");
  EXPECT_EQ(p.cutoff_date, PackDigits("20261231"));
  EXPECT_EQ(p.range_from, PackDigits("00120000"));
  EXPECT_EQ(p.range_to, PackDigits("00120007"));
  EXPECT_EQ(p.copies, 0);
  EXPECT_TRUE(RangeInOrder(p));
  EXPECT_FALSE(RangeInOrder(
      ParametersFromEntries("31/12/2026", "12", "8", "12", "7", "1")));
}

// The F4 lists show the code's last three digits and the community's name,
// or the unit's owner and designation; a unit list is bounded by the
// community typed in form 1; a choice stores the code.
TEST_F(ReportFormTest, LookupListsUseTheReportsLayouts) {
  SetValue(report_form::kFirstCommunityField, " 12");
  SetValue(report_form::kLastCommunityField, "3  ");
  std::string lower, upper;
  LookupRange(report_form::kFirstUnitLookup, lower, upper);
  EXPECT_EQ(lower, PackDigits("0012"));
  LookupRange(report_form::kLastUnitLookup, lower, upper);
  EXPECT_EQ(upper, PackDigits("0003"));
  LookupRange(report_form::kCommunityLookup, lower, upper);
  EXPECT_EQ(lower, "");

  uint8_t* finques = Areas().finques.data();
  PutBytes(finques, field::kCommunityCode, PackDigits("0042"));
  PutText(finques, field::kCommunityName, 30, Cp850("PLAÇA MAJOR"));
  uint8_t* propiet = Areas().propiet.data();
  PutBytes(propiet, field::kUnitCode, PackDigits("00420317"));
  PutText(propiet, field::kOwnerName, 30, "FERRER");
  PutText(propiet, field::kDesignation, 10, "LOCAL 1");
  EXPECT_EQ(LookupLine(report_form::kCommunityLookup),
            "042  " + FitText(Cp850("PLAÇA MAJOR"), 30));
  EXPECT_EQ(LookupLine(report_form::kFirstUnitLookup),
            "317  " + FitText("FERRER", 30) + "  " + FitText("LOCAL 1", 10));
  EXPECT_EQ(LookupLine(4), "");

  StoreLookupCode(report_form::kLastUnitLookup, 1, report_form::kLastUnitField);
  EXPECT_EQ(Field(1, report_form::kLastUnitField).value, "317");
}

}  // namespace
}  // namespace tarnevos
