#include "settings/csv_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnevos {
namespace {

std::vector<std::string> AllFields(std::string contents) {
  CsvReader reader(std::move(contents));
  std::vector<std::string> fields;
  std::string field;
  while (reader.ReadField(field)) {
    fields.push_back(field);
    if (fields.size() > 1000) break;  // a reader that never ends
  }
  EXPECT_TRUE(reader.AtEnd());
  return fields;
}

using Fields = std::vector<std::string>;

TEST(CsvReaderTest, SplitsFieldsAtCommasAndLineEnds) {
  const std::pair<const char*, Fields> cases[] = {
      {"a,b,c\r\nd", {"a", "b", "c", "d"}},
      {"  a  , b b ,c\t\r\n", {"a", "b b", "c"}},
      {"\"a, b\",\" c \"\r\n", {"a, b", " c "}},
      {"  \"q\"  ,x", {"q", "x"}},
      {"\"q\"junk,x", {"q", "x"}},  // after the closing quote: ignored
      {"a,,b", {"a", "", "b"}},
      {"text,,,\r\nnext,1,2,3\r\n",
       {"text", "", "", "", "next", "1", "2", "3"}},
      {"a,\r\n", {"a", ""}},
      {"a,", {"a", ""}},
      {"a\r\n\r\n\r\nb", {"a", "b"}},  // empty lines make no field
      {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
      {"ab\"c,d", {"ab\"c", "d"}},  // a quote inside: ordinary
      {"\"open, field  \r\nx", {"open, field  ", "x"}},
      {"\"a\"\"b\",c", {"a", "c"}},  // no escape for quotes
      {"\"\",x", {"", "x"}},
      {"", {}},
      {" \r\n \r\n", {}},
  };
  for (const auto& [contents, fields] : cases) {
    EXPECT_EQ(AllFields(contents), fields) << contents;
  }
  EXPECT_EQ(AllFields(std::string("a\0b,c", 5)),
            (Fields{std::string("a\0b", 3), "c"}));
}

TEST(CsvReaderTest, ARecordMayRunOverSeveralLines) {
  CsvReader reader(
      "\"Data de tall\",\r\n  \"Fecha de corte\"\r\n,x,\r\n\"y\"\r\n");
  std::string f;
  ASSERT_TRUE(reader.ReadField(f));
  EXPECT_EQ(f, "Data de tall");
  ASSERT_TRUE(reader.ReadField(f));
  EXPECT_EQ(f, "");  // the comma announced a field; the line ended it
  ASSERT_TRUE(reader.ReadField(f));
  EXPECT_EQ(f, "Fecha de corte");
  ASSERT_TRUE(reader.ReadField(f));
  EXPECT_EQ(f, "");
  ASSERT_TRUE(reader.ReadField(f));
  EXPECT_EQ(f, "x");
  ASSERT_TRUE(reader.ReadField(f));
  EXPECT_EQ(f, "");
  ASSERT_TRUE(reader.ReadField(f));
  EXPECT_EQ(f, "y");
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_FALSE(reader.ReadField(f));
  EXPECT_EQ(f, "");
}

TEST(CsvReaderTest, SkipsCommentLinesAndCountsLines) {
  CsvReader reader(
      "' form file\r\n   ' indented comment\r\n\r\n' after a blank line\r\n"
      "1,\"Data\"\r\n'not a comment here\r\n");
  ASSERT_TRUE(reader.SkipCommentLines());
  EXPECT_EQ(reader.line(), 5);
  int16_t n = 0;
  ASSERT_TRUE(reader.ReadInteger(n));
  EXPECT_EQ(n, 1);
  std::string f;
  ASSERT_TRUE(reader.ReadField(f));
  EXPECT_EQ(f, "Data");
  EXPECT_EQ(reader.line(), 6);
  ASSERT_FALSE(reader.SkipCommentLines());
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(reader.line(), 7);

  CsvReader lf("'a\n'b\rx");
  ASSERT_TRUE(lf.SkipCommentLines());
  EXPECT_EQ(lf.line(), 3);
  ASSERT_TRUE(lf.ReadField(f));
  EXPECT_EQ(f, "x");
  CsvReader comments_only("' only\r\n'");
  EXPECT_FALSE(comments_only.SkipCommentLines());
}

TEST(CsvReaderTest, ReadsSmallIntegers) {
  CsvReader reader("12, -3 ,x,40000,-99999,2.5,3.5, .7e2,\"7\",");
  struct Expect {
    int16_t value;
    bool valid;
  };
  const Expect expected[] = {
      {12, true}, {-3, true}, {0, false}, {32767, true}, {-32768, true},
      {2, true},  {4, true},  {1, true},  {7, true},     {0, false}};
  for (const Expect& e : expected) {
    int16_t value = 99;
    bool valid = !e.valid;
    ASSERT_TRUE(reader.ReadInteger(value, &valid));
    EXPECT_EQ(value, e.value);
    EXPECT_EQ(valid, e.valid);
  }
  int16_t value = 99;
  bool valid = true;
  EXPECT_FALSE(reader.ReadInteger(value, &valid));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(valid);
}

}  // namespace
}  // namespace tarnevos
