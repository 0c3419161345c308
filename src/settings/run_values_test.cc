#include "settings/run_values.h"

#include <gtest/gtest.h>

#include <cfloat>

#include "support/run_state.h"
#include "support/scratch.h"

namespace tarnevos {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

class RunValuesTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetRunState(); }
  void TearDown() override { testing::ResetRunState(); }
  ScratchDir root_;
  ScopedEnv env_{{"KELROOT", root_.path()}};
};

TEST_F(RunValuesTest, ReadsTheAdministratorsLines) {
  root_.Write(
      "Orvo.ini",
      "[Administrador]\r\nLinia1=FINQUES MONTSENY, SL\r\n"
      "Linia2= C. Major, 12\r\nLinia3=08500 VIC\r\nLinia7=ESB12345678\r\n"
      "Linia8=no\r\n");
  LoadAdministratorLines();
  const auto& lines = tarnevos::Run().administrator_lines;
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "FINQUES MONTSENY, SL");
  EXPECT_EQ(lines[2], " C. Major, 12");  // as read, not trimmed
  EXPECT_EQ(lines[3], "08500 VIC");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[6], "");
  EXPECT_EQ(lines[7], "ESB12345678");
}

TEST_F(RunValuesTest, ReadsTheLetterheadModeAndTheFeeRates) {
  struct Case {
    std::string contents;
    const char* letterhead;
    float vat0, vat1, withholding0, withholding1;
  };
  const Case cases[] = {
      {"[Rebut]\r\nMembret=N\r\n[Iva0]\r\nHonoraris=0\r\n[Iva1]\r\n"
       "Honoraris=21\r\n[Ret0]\r\nHonoraris=0\r\n[Ret1]\r\nHonoraris=15\r\n",
       "N", 0, 21, 0, 15},
      {"", "", 0, 0, 0, 0},
      {"[Rebut]\r\nMembret=n\r\n[Iva1]\r\nHonoraris=veintiuno\r\n"
       "[Ret1]\r\nHonoraris= 7.5 %\r\n",
       "n", 0, 0, 0, 7.5f},
      {"[Rebut]\r\nMembret= N\r\n[Iva0]\r\nHonoraris=-4\r\n[Iva1]\r\n"
       "Honoraris=1" +
           std::string(400, '0') + "\r\n",
       " N", -4, FLT_MAX, 0, 0},
  };
  for (const Case& c : cases) {
    root_.Write("Orvo.ini", c.contents);
    LoadFeeSettings();
    EXPECT_EQ(tarnevos::Run().letterhead_mode, c.letterhead) << c.contents;
    EXPECT_EQ(tarnevos::Run().fee_vat_rate[0], c.vat0) << c.contents;
    EXPECT_EQ(tarnevos::Run().fee_vat_rate[1], c.vat1) << c.contents;
    EXPECT_EQ(tarnevos::Run().fee_withholding_rate[0], c.withholding0)
        << c.contents;
    EXPECT_EQ(tarnevos::Run().fee_withholding_rate[1], c.withholding1)
        << c.contents;
  }
}

}  // namespace
}  // namespace tarnevos
