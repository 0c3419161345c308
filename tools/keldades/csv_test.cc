// The readers of the CSV files' cells and records.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "keldades/csv_file.h"
#include "keldades/csv_values.h"
#include "util/csv_text.h"

namespace tarnevos::keldades {
namespace {

TEST(CsvValuesTest, AmountsAsSpreadsheetsWriteThem) {
  struct Case {
    const char* text;
    int64_t hundredths;  // when read
    bool ok;
  };
  const Case cases[] = {
      {"1234.56", 123456, true},
      {"1.234,56", 123456, true},
      {"1,234.56", 123456, true},
      {"1234,56", 123456, true},
      {"-0,5", -50, true},
      {"+7", 700, true},
      {"12", 1200, true},
      {"1.234", 123400, true},
      {"1,234", 123400, true},
      {"1.234.567", 123456700, true},
      {"1.234.567,8", 123456780, true},
      {"0,05", 5, true},
      {" 12,30 ", 1230, true},
      {"12,30 €", 1230, true},
      {"€12.30", 1230, true},
      {"12.500", 1250000, true},
      {"12.5000", 1250, true},
      {".5", 50, true},
      // Refused.
      {"", 0, false},
      {"-", 0, false},
      {"12,345,6", 0, false},
      {"1.23.4", 0, false},
      {"12.345", 1234500, true},
      {"1,2345", 0, false},
      {"12,3a", 0, false},
      {"1 234", 0, false},
      {"12.", 0, false},
      {"1.234,5.6", 0, false},
      {"99999999999999999", 0, false},
      {"--1", 0, false},
  };
  for (const Case& c : cases) {
    int64_t value = -1;
    std::string error;
    EXPECT_EQ(ParseEuros(c.text, value, error), c.ok) << c.text << " " << error;
    if (c.ok) {
      EXPECT_EQ(value, c.hundredths) << c.text;
    } else {
      EXPECT_NE(error.find(c.text[0] == '\0' ? "\"\"" : "\""),
                std::string::npos);
    }
  }
  std::string error;
  int64_t value = 0;
  EXPECT_FALSE(ParseEuros("1,2345", value, error));
  EXPECT_NE(error.find("more than two decimals"), std::string::npos) << error;
}

TEST(CsvValuesTest, WholeNumbersDatesAndFlags) {
  struct Whole {
    const char* text;
    int64_t value;
    bool ok;
  };
  for (const Whole& c : std::vector<Whole>{{"333334", 333334, true},
                                           {"333.334", 333334, true},
                                           {"1.000.000", 1000000, true},
                                           {"-12", -12, true},
                                           {"12,00", 12, true},
                                           {"0", 0, true},
                                           {"12,5", 0, false},
                                           {"3.33", 0, false},
                                           {"x", 0, false},
                                           {"1234567890123456", 0, false}}) {
    int64_t value = -1;
    std::string error;
    EXPECT_EQ(ParseWhole(c.text, value, error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }

  struct Date {
    const char* text;
    const char* iso;  // nullptr: refused
  };
  for (const Date& c : std::vector<Date>{{"2026-11-30", "2026-11-30"},
                                         {"30/11/2026", "2026-11-30"},
                                         {"5/1/2026", "2026-01-05"},
                                         {"05.01.2026", "2026-01-05"},
                                         {"30-11-2026", "2026-11-30"},
                                         {"2026-1-5", "2026-01-05"},
                                         {"30/11/2026 0:00:00", "2026-11-30"},
                                         // The dataset checks the calendar.
                                         {"31/02/2026", "2026-02-31"},
                                         {"30/11/26", nullptr},
                                         {"2026/11/30", nullptr},
                                         {"30/11-2026", nullptr},
                                         {"30/11/2026 10:15", nullptr},
                                         {"30112026", nullptr},
                                         {"", nullptr},
                                         {"1/2/3/2026", nullptr}}) {
    std::string iso, error;
    EXPECT_EQ(ParseDate(c.text, iso, error), c.iso != nullptr) << c.text;
    if (c.iso != nullptr) {
      EXPECT_EQ(iso, c.iso) << c.text;
    }
  }

  for (const char* yes : {"S", "s", "Sí", "SI", "y", "Yes", "TRUE", "1", "x"}) {
    bool value = false;
    std::string error;
    EXPECT_TRUE(ParseFlag(yes, value, error) && value) << yes;
  }
  for (const char* no : {"N", "no", "FALSE", "0", "", " "}) {
    bool value = true;
    std::string error;
    EXPECT_TRUE(ParseFlag(no, value, error) && !value) << no;
  }
  bool value = false;
  std::string error;
  EXPECT_FALSE(ParseFlag("maybe", value, error));
  EXPECT_NE(error.find("must be S or N"), std::string::npos);

  // The export's own forms read back.
  const CsvStyle comma{';', ',', true, true};
  EXPECT_EQ(EurosText(-123456, comma), "-1234,56");
  EXPECT_EQ(EurosText(5, CsvStyle{}), "0.05");
  EXPECT_EQ(DateText("2026-01-05", comma), "05/01/2026");
  EXPECT_EQ(DateText("2026-01-05", CsvStyle{}), "2026-01-05");
  int64_t back = 0;
  EXPECT_TRUE(ParseEuros(EurosText(-123456, comma), back, error));
  EXPECT_EQ(back, -123456);
}

TEST(CsvTextTest, FieldsAreQuotedOnlyWhenTheyNeedIt) {
  EXPECT_EQ(CsvField("PLAÇA", ','), "PLAÇA");
  EXPECT_EQ(CsvField("MAJOR, 12", ','), "\"MAJOR, 12\"");
  EXPECT_EQ(CsvField("MAJOR, 12", ';'), "MAJOR, 12");
  EXPECT_EQ(CsvField("A;B", ';'), "\"A;B\"");
  EXPECT_EQ(CsvField("EL \"VELL\"", ','), "\"EL \"\"VELL\"\"\"");
  EXPECT_EQ(CsvField(" 1r", ','), "\" 1r\"");
  EXPECT_EQ(CsvField("two\nlines", ','), "\"two\nlines\"");
  EXPECT_EQ(tarnevos::CsvLine({"a", "", "b,c"}, ','), "a,,\"b,c\"\r\n");
  EXPECT_EQ(DecimalHundredths(0), "0.00");
  EXPECT_EQ(DecimalHundredths(-5), "-0.05");
  EXPECT_EQ(DecimalHundredths(123456789, ','), "1234567,89");
  EXPECT_EQ(DecimalHundredths(INT64_MIN), "-92233720368547758.08");
}

std::vector<CsvRecord> ReadAll(const std::string& text, char& separator,
                               std::string& error, bool& ok) {
  std::istringstream in(text);
  std::vector<CsvRecord> records;
  ok = ReadCsv(
      in, separator,
      [&records](const CsvRecord& record, std::string&) {
        records.push_back(record);
        return true;
      },
      error);
  return records;
}

TEST(CsvFileTest, RecordsLinesAndSeparatorsAsSpreadsheetsSaveThem) {
  char separator = 0;
  std::string error;
  bool ok = false;
  // Byte-order mark, ";" from the header, a quoted field over two lines,
  // a doubled quote, blanks kept, an empty line, no line end at the end.
  const std::string text =
      "\xEF\xBB\xBF"
      "code;name,x;note\r\n"
      "1;\"two\r\nlines; here\";\" a \"\"b\"\" \"\r\n"
      "\r\n"
      "2; padded ;\"\"\r\n"
      "3;;";
  const auto records = ReadAll(text, separator, error, ok);
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(separator, ';');
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].fields,
            (std::vector<std::string>{"code", "name,x", "note"}));
  EXPECT_EQ(records[1].line, 2u);
  EXPECT_EQ(records[1].fields[1], "two\r\nlines; here");
  EXPECT_EQ(records[1].fields[2], " a \"b\" ");
  EXPECT_EQ(records[2].line, 5u);
  EXPECT_EQ(records[2].fields[1], " padded ");
  EXPECT_TRUE(records[2].quoted[2]);
  EXPECT_EQ(records[2].fields[2], "");
  EXPECT_EQ(records[3].line, 6u);
  EXPECT_EQ(records[3].fields, (std::vector<std::string>{"3", "", ""}));
  EXPECT_FALSE(records[3].quoted[1]);

  // Commas, LF and CR line ends.
  const auto lf = ReadAll("a,b\n1,2\r3,4\n", separator, error, ok);
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(separator, ',');
  ASSERT_EQ(lf.size(), 3u);
  EXPECT_EQ(lf[2].line, 3u);
  EXPECT_EQ(lf[2].fields, (std::vector<std::string>{"3", "4"}));

  // Malformed quotes name their line.
  ReadAll("a;b\n1;2\n3;x\"y\n", separator, error, ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
  ReadAll("a;b\n1;2\n3;\"open\n\n", separator, error, ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error.rfind("line 3: a quoted field is not closed", 0), 0u)
      << error;

  // A handler that stops the reading gives its message.
  std::istringstream in("h\n1\n2\n");
  EXPECT_FALSE(ReadCsv(
      in, separator,
      [](const CsvRecord& record, std::string& message) {
        message = "stopped at " + std::to_string(record.line);
        return record.line < 2;
      },
      error));
  EXPECT_EQ(error, "stopped at 2");

  EXPECT_EQ(DetectSeparator("a,b;c,d"), ',');
  EXPECT_EQ(DetectSeparator("\"a;b;c\",d"), ',');
  EXPECT_EQ(DetectSeparator("a;b"), ';');
  EXPECT_EQ(DetectSeparator("alone"), ',');
}

}  // namespace
}  // namespace tarnevos::keldades
