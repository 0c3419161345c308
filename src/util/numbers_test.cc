#include "util/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/run_state.h"
#include "support/scratch.h"

namespace tarnevos {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

// Every test starts with a fresh run: default number characters (no
// Orvo.ini in the scratch root), no currency selected.
class NumbersTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetRunState(); }
  void TearDown() override { testing::ResetRunState(); }
  ScratchDir root_;
  ScopedEnv env_{{"KELROOT", root_.path()}};
};

TEST_F(NumbersTest, ReadsTheLeadingNumberOfAText) {
  const std::pair<const char*, double> cases[] = {
      {"21", 21},     {"  -12.5xyz", -12.5},
      {"+7", 7},      {"3.", 3},
      {".5", 0.5},    {"1e5", 1},
      {"abc", 0},     {"", 0},
      {"-", 0},       {"- 5", 0},
      {"12 34", 12},  {"0021", 21},
      {"1.2.3", 1.2}, {"\t5", 0},
      {"  .", 0},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_DOUBLE_EQ(NumericValue(text), value) << '"' << text << '"';
  }
  EXPECT_TRUE(std::isinf(NumericValue(std::string(400, '9'))));
}

TEST_F(NumbersTest, RoundsHalvesToTheEvenNeighbour) {
  const std::pair<long double, long double> cases[] = {
      {2.5L, 2},    {3.5L, 4},  {-2.5L, -2}, {-3.5L, -4},    {2.4999L, 2},
      {2.5001L, 3}, {-0.4L, 0}, {0, 0},      {1e20L, 1e20L},
  };
  for (const auto& [value, rounded] : cases) {
    EXPECT_EQ(RoundHalfEven(value), rounded) << static_cast<double>(value);
  }
  EXPECT_TRUE(std::isnan(RoundHalfEven(NAN)));
  EXPECT_EQ(ToInt16(2.5L), 2);
  EXPECT_EQ(ToInt16(70000), 32767);
  EXPECT_EQ(ToInt16(-1e300L), -32768);
  EXPECT_EQ(ToInt16(NAN), 0);
  EXPECT_EQ(ToInt16(INFINITY), 32767);
}

struct MaskCase {
  const char* mask;
  double value;
  const char* expected;
};

void ExpectMasks(const std::vector<MaskCase>& cases) {
  for (const MaskCase& c : cases) {
    std::string shown = FormatByMask(c.mask, c.value);
    EXPECT_EQ(shown, c.expected) << c.mask << " with " << c.value;
    EXPECT_EQ(shown.size(), std::string_view(c.mask).size());
  }
}

TEST_F(NumbersTest, FormatsThroughMasks) {
  ExpectMasks({
      {"ZZ,ZZZ,ZZ9.99", 1234567.891, " 1.234.567'89"},
      {"ZZ9.99", 0, "  0'00"},
      {"ZZZ.ZZ", 0, "      "},
      {"ZZ9.ZZ", 12.5, " 12'5 "},
      {"ZZ9.ZZ", 12, " 12   "},
      {"ZZ9.99", 0.05, "  0'05"},
      {"ZZZ.ZZ", 0.05, "   '05"},
      {"999", 5, "005"},
      {"9,999", 5, "0.005"},
      {"Z,ZZ9", 5, "    5"},
      {"*,**9", 5, "****5"},
      {"**,**9.99", 1234.5, "*1.234'50"},
      {"ZZ,ZZ9", 1234, " 1.234"},
      {"zz9", 42, " 42"},
      {"ZZ9 EUR", 42, " 42 EUR"},
      {"", 5, ""},
      {"ABC", 0, "ABC"},
  });
}

TEST_F(NumbersTest, RoundsToTheMasksDecimalsHalfToEven) {
  ExpectMasks({
      {"Z9", 2.5, " 2"},
      {"Z9", 3.5, " 4"},
      {"9.99", 0.125, "0'12"},
      {"9.99", 0.135, "0'14"},
      {"ZZ9", 0.4, "  0"},
      {"ZZ9.9", -0.04, "  0'0"},  // rounds to zero: no sign
  });
}

TEST_F(NumbersTest, PlacesSigns) {
  ExpectMasks({
      {"ZZ,ZZ9", -5, "    -5"},
      {"ZZ9-", -5, "  5-"},
      {"ZZ9-", 5, "  5 "},
      {"+ZZ9", -5, "-  5"},
      {"+ZZ9", 5, "+  5"},
      {"ZZ9.99-", -1.5, "  1'50-"},
      {"ZZZ,ZZ9.99", -12345.67, "-12.345'67"},
      {"**9", -5, "*-5"},
      {"ZZ9.99", -0.5, "  -'50"},
  });
}

TEST_F(NumbersTest, OverflowShowsThePlainNumberOrExclamationMarks) {
  ExpectMasks({
      {"ZZ9", 123456, "!!!"},
      {"ZZ9.99", -123.45, "-123'4"},
      {"ZZ9", -123, "!!!"},
      {"9999", -123, "-123"},
      {"ZZ9.99", 1234.5, "1234'5"},
      {"--", 5, " 5"},
      {"ZZ9", 1e300, "!!!"},
      {"ZZ9", std::numeric_limits<double>::quiet_NaN(), "!!!"},
      {"ZZ9", std::numeric_limits<double>::infinity(), "!!!"},
      {"ZZ9", -std::numeric_limits<double>::infinity(), "!!!"},
      {"9", std::numeric_limits<double>::max(), "!"},
  });
  // Around 2^64 (18446744073709551616) the digits come from two different
  // conversions; both must give every digit.
  ExpectMasks({
      {"99999999999999999999", 18446744073709549568.0, "18446744073709549568"},
      {"99999999999999999999", 18446744073709551616.0, "18446744073709551616"},
      {"999999999999999999999", 36893488147419103232.0,
       "036893488147419103232"},
      {"99999999999999999999", 147573952589676412928.0, "!!!!!!!!!!!!!!!!!!!!"},
      {"9999999999999999.99", 12345678901234.56, "0012345678901234'56"},
  });
  std::string long_decimals = "9." + std::string(6000, '9');
  EXPECT_EQ(FormatByMask(long_decimals, 1), std::string(6002, '!'));
  EXPECT_EQ(FormatByMask(long_decimals, 0), "0'" + std::string(6000, '0'));
}

TEST_F(NumbersTest, UsesTheConfiguredCharactersReadOnce) {
  root_.Write("Orvo.ini", "[Usuari]\r\nDecCaracter=,\r\nMilCaracter=.\r\n");
  EXPECT_EQ(FormatByMask("ZZ,ZZ9.99", 1234.5), " 1.234,50");
  root_.Write("Orvo.ini", "[Usuari]\r\nDecCaracter=;\r\n");
  EXPECT_EQ(FormatByMask("ZZ,ZZ9.99", 1234.5), " 1.234,50");
  TEST_ResetNumberState();
  root_.Write("Orvo.ini", "[Usuari]\r\nDecCaracter= \r\nMilCaracter=x\r\n");
  EXPECT_EQ(FormatByMask("ZZ,ZZ9.99", 1234.5), " 1x234'50");
}

TEST_F(NumbersTest, FormatsAmountsInTheCurrentCurrency) {
  SelectCurrency("a,E");
  struct Case {
    const char* pattern;
    double amount;
    const char* expected;
  };
  const Case euros[] = {
      {"ZZ,ZZZ,ZZ9", 1234567, " 12.345'67"},
      {"ZZ,ZZZ,ZZ9", -1234567, "-12.345'67"},
      {"ZZ,ZZZ,ZZZ", 5, "       '05"},
      {"ZZ,ZZZ,ZZZ", 0, "          "},
      {"ZZ,ZZZ,ZZ9", 0, "      0'00"},
      {"ZZZZ9", 150, " 1'50"},
      {"**,**9", 150, "**1'50"},
      {"ZZ,ZZ9-", -150, "  1'50-"},
      {"-ZZ,ZZ9", -150, "-  1'50"},
      {"ZZZ.9", 12345, "123'4"},
      {"", 100, ""},
      {"ZZ9", 1234567, "!!!"},
  };
  for (const Case& c : euros) {
    EXPECT_EQ(FormatAmount(c.pattern, c.amount), c.expected)
        << c.pattern << " " << c.amount;
  }
  SelectCurrency("p,P");
  SelectCurrency("p");
  ASSERT_EQ(CurrentCurrency(), 'P');
  const Case pesetas[] = {
      {"ZZ,ZZZ,ZZ9", 1234567, " 2.054.147"},
      {"ZZ,ZZZ,ZZ9", -1234567, "-2.054.147"},
      {"ZZ,ZZZ,ZZZ", 0, "          "},
      {"ZZ,ZZZ,ZZ9", 0, "         0"},
      {"ZZ,ZZZ,ZZ9", 100, "       166"},
  };
  for (const Case& c : pesetas) {
    EXPECT_EQ(FormatAmount(c.pattern, c.amount), c.expected)
        << c.pattern << " " << c.amount;
  }
}

TEST_F(NumbersTest, WholePesetasAreWhatThePesetaSlotShows) {
  SelectCurrency("a,E");
  // Halves of a peseta round to the even neighbour, as the mask rounds;
  // 3 hundredths are 4.99158 pesetas.
  for (int64_t amount : {int64_t{0}, int64_t{1}, int64_t{3}, int64_t{100},
                         int64_t{-1234567}, int64_t{1234567}, int64_t{601012},
                         int64_t{-601013}, int64_t{999999999}}) {
    const std::string slot = FormatAmountIn("ZZ,ZZZ,ZZ9", amount, 'P');
    std::string digits;
    for (char c : slot) {
      if (c == '-' || (c >= '0' && c <= '9')) digits += c;
    }
    EXPECT_EQ(std::to_string(WholePesetas(amount)), digits) << amount;
  }
  EXPECT_EQ(WholePesetas(3), 5);
  EXPECT_EQ(AmountInCurrency(250, 'E'), 2.5);
  // The currency given, not the current one.
  EXPECT_EQ(FormatAmountIn("ZZ,ZZZ,ZZ9", 100, 'P'), "       166");
  EXPECT_EQ(CurrentCurrency(), 'E');
}

TEST_F(NumbersTest, ChecksTypedNumbersAgainstTheMask) {
  struct Case {
    const char* text;
    const char* mask;
    bool invalid;
  };
  const Case cases[] = {
      {"-12.5", "-ZZ9.99", false}, {"-12.5", "ZZ9.99", true},
      {"-12.5", "-ZZ9", true},     {"1-2", "-ZZ9", true},
      {"1.2.3", "ZZ9.99", true},   {"12a", "ZZ9", true},
      {"a-", "-ZZ9", true},        {" + 12 ", "+ZZ9", false},
      {"--1", "-ZZ9", true},       {".5-", "-Z.9", true},
      {"", "ZZ9", false},          {"   ", "ZZ9", false},
      {"1,5", "ZZ9.99", true},     {".", "Z.9", false},
      {"-.5", "-Z.99", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsInvalidNumberEntry(c.text, c.mask), c.invalid)
        << '"' << c.text << "\" for " << c.mask;
  }
}

TEST_F(NumbersTest, SelectsCurrencies) {
  EXPECT_EQ(CurrentCurrency(), 'E');  // nothing selected yet: euros
  SelectCurrency("a,E");
  EXPECT_EQ(CurrencyFor("A"), 'E');
  EXPECT_EQ(CurrencyFor("impressora"), 'E');  // no secondary: the primary
  SelectCurrency("p");
  EXPECT_EQ(CurrentCurrency(), 'E');

  SelectCurrency("p,p");  // small letters count as capitals
  EXPECT_EQ(CurrencyFor(" a"), 'E');
  EXPECT_EQ(CurrencyFor("P"), 'P');
  EXPECT_EQ(CurrentCurrency(), 'E');  // setting the secondary selects nothing
  SelectCurrency("p");
  EXPECT_EQ(CurrentCurrency(), 'P');
  SelectCurrency("");
  EXPECT_EQ(CurrentCurrency(), 'E');

  SelectCurrency("p,  ");  // nothing after the comma: the primary one
  EXPECT_EQ(CurrencyFor("x"), 'E');
  SelectCurrency("A,P");
  EXPECT_EQ(CurrentCurrency(), 'P');
  SelectCurrency("a,");
  EXPECT_EQ(CurrentCurrency(), 'E');
  SelectCurrency("a,X");  // any letter but P is the euro
  EXPECT_EQ(CurrencyFor("A"), 'E');
}

}  // namespace
}  // namespace tarnevos
