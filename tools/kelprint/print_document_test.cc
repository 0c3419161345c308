#include "kelprint/print_document.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "kelprint/text_renderer.h"
#include "support/scratch.h"
#include "util/codepage.h"

namespace tarnevos::kelprint {
namespace {

// Joins lines with the CR LF the writer uses.
std::string File(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return bytes;
}

// The row as text, "" when the page has no such row.
std::string Row(const PrintDocument& document, size_t page, size_t row) {
  if (page >= document.pages.size()) return "<no page>";
  const Page& p = document.pages[page];
  return row < p.rows.size() ? p.rows[row].text : "";
}

TEST(PrintDocumentTest, TextsLandAtTheirColumnsAndRows) {
  PrintDocument document = ReadPrintFile(File({
      "DEVICEPDF", "PAGE 66 ", " 85 ,PAGE 1, 2 ",
      " 1 ,001 ,0",  // numbers without their blanks are taken too
      " 0 ,AB, 0 ",
      " 6 ,x, 0 ",  // overwrites the B
      " 0 ,yz, 1 ", " 16 ,, 0 ", " 16 ,0123456789, 0 ",
      " 0 ,a,b,c, 1 ",  // commas inside a text
  }));
  EXPECT_FALSE(document.first_problem) << document.first_problem->Describe();
  EXPECT_EQ(document.device, "PDF");
  ASSERT_EQ(document.pages.size(), 1u);
  EXPECT_EQ(document.pages[0].length, 66);
  EXPECT_EQ(Row(document, 0, 0), std::string(84, ' ') + "PAGE 1");
  EXPECT_EQ(Row(document, 0, 1), "");
  EXPECT_EQ(Row(document, 0, 2), "001 Axyz");
  EXPECT_EQ(Row(document, 0, 3), std::string(15, ' ') + "0123456789a,b,c");
  EXPECT_EQ(document.pages[0].Width(), 90);
  EXPECT_EQ(document.pages[0].Lines(), 66);
}

TEST(PrintDocumentTest, PageLinesStartPagesAndFullPagesContinue) {
  PrintDocument document = ReadPrintFile(File({
      "DEVICE",
      " 1 ,before any page, 1 ",  // opens a page of the default length
      "PAGE 3 ",
      "PAGE 3 ",  // a blank page is still a page
      " 1 ,a, 2 ",
      " 1 ,b, 2 ",  // row 2, then two more: past the end
      " 1 ,c, 1 ",  // lands on row 1 of a new page
      "PAGE 5 ",
      " 2 ,d, 0 ",
  }));
  ASSERT_EQ(document.pages.size(), 5u);
  EXPECT_EQ(document.pages[0].length, kDefaultPageLength);
  EXPECT_EQ(Row(document, 0, 0), "before any page");
  EXPECT_TRUE(document.pages[1].rows.empty());
  EXPECT_EQ(Row(document, 2, 0), "a");
  EXPECT_EQ(Row(document, 2, 2), "b");
  EXPECT_EQ(document.pages[3].length, 3);
  EXPECT_EQ(Row(document, 3, 0), "");
  EXPECT_EQ(Row(document, 3, 1), "c");
  EXPECT_EQ(document.pages[4].length, 5);
  EXPECT_EQ(Row(document, 4, 0), " d");
  ASSERT_TRUE(document.first_problem);
  EXPECT_EQ(document.first_problem->line_number, 7);
  EXPECT_NE(document.first_problem->message.find("overflows"),
            std::string::npos);
}

TEST(PrintDocumentTest, ControlsSetTheStyleOfTheCellsThatFollow) {
  PrintDocument document = ReadPrintFile(File({
      "DEVICE",
      "PAGE 66 ",
      " 1 ,n, 1 ",
      "*q",
      " 1 ,c, 1 ",
      "*i",
      " 1 ,ci, 0 ",
      " 0 ,x, 1 ",
      "*i",
      " 1 ,c, 1 ",
      "*i",
      "*@e",
      " 1 ,n, 1 ",
  }));
  const Page& page = document.pages.at(0);
  const uint8_t both = kItalic | kCondensed;
  EXPECT_EQ(page.rows.at(0).styles, std::vector<uint8_t>{0});
  EXPECT_EQ(page.rows.at(1).styles, std::vector<uint8_t>{kCondensed});
  EXPECT_EQ(page.rows.at(2).styles, (std::vector<uint8_t>{both, both, both}));
  EXPECT_EQ(page.rows.at(3).styles, std::vector<uint8_t>{kCondensed});
  EXPECT_EQ(page.rows.at(4).styles, std::vector<uint8_t>{0});
  EXPECT_FALSE(document.first_problem);
}

TEST(PrintDocumentTest, JustificationArrangesTextsWithinTheirOwnCells) {
  struct Case {
    const char* code;
    const char* text;
    const char* shown;
  };
  const std::vector<Case> cases = {
      {"D", "12    ", "    12"}, {"N 2 \\#\\", "12    ", "    12"},
      {"C", "ab    ", "  ab  "}, {"C", " ab  ", " ab  "},
      {"A", "   ab", "ab   "},   {"E", " ab ", " ab "},
      {"d", "  x ", "   x"},     {"D", "    ", "    "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("JUS") + c.code + " '" + c.text + "'");
    PrintDocument document = ReadPrintFile(File({
        "DEVICE", std::string("JUS") + c.code,
        std::string(" 10 ,") + c.text + ", 1 ",
        std::string(" 10 ,") + c.text + ", 0 ",  // the next line: as given
    }));
    EXPECT_EQ(Row(document, 0, 0), std::string(9, ' ') + c.shown);
    EXPECT_EQ(Row(document, 0, 1), std::string(9, ' ') + c.text);
  }
}

TEST(PrintDocumentTest, RightJustifiedFiguresKeepTheirColumns) {
  // The remainder line of the settlement report: label, JUS D, an empty
  // text at 16 and ten-character figures at explicit columns.
  std::vector<std::string> lines = {"DEVICE", "PAGE 66 ", " 1 ,AJUST, 0 ",
                                    "JUSD", " 16 ,, 0 "};
  std::string expected = "AJUST" + std::string(10, ' ');
  for (int k = 0; k < 12; ++k) {
    std::string figure = k % 3 == 0 ? std::string(10, ' ') : "     1.234";
    lines.push_back(" " + std::to_string(16 + 10 * k) + " ," + figure +
                    (k == 11 ? ", 1 " : ", 0 "));
    expected += figure;
  }
  PrintDocument document = ReadPrintFile(File(lines));
  EXPECT_EQ(Row(document, 0, 0), expected);
}

struct BadCase {
  const char* what;
  std::string bytes;
  int line;  // expected line of the first problem
  const char* message_part;
  std::string first_row;  // page 0, row 0 afterwards
};

TEST(PrintDocumentTest, BadLinesAreNamedAndTheRestIsRendered) {
  const std::string big_column = " 30000 ,far, 0 ";
  const std::vector<BadCase> cases = {
      {"empty file", "", 0, "empty", "<no page>"},
      {"no device line", " 1 ,x, 0 \r\n", 0, "DEVICE", "x"},
      {"unknown command", File({"DEVICE", "HELLO", " 1 ,x, 0 "}), 2,
       "unknown command", "x"},
      {"empty line", File({"DEVICE", "", " 1 ,x, 0 "}), 2, "empty line", "x"},
      {"second device", File({"DEVICE", "DEVICEPDF", " 1 ,x, 0 "}), 2,
       "second DEVICE", "x"},
      {"column not a number", File({"DEVICE", " 2 ,ab, 0 ", "x3 ,c, 0 "}), 3,
       "column is not a number", " abc"},
      {"line feeds not a number", File({"DEVICE", " 1 ,a,b ", " 1 ,x, 0 "}), 2,
       "line feeds are not a number", "x"},
      {"text without line feeds", File({"DEVICE", " 2 ,abc"}), 2,
       "without line feeds", " abc"},
      {"negative column", File({"DEVICE", "-4 ,neg, 0 "}), 2, "negative column",
       "neg"},
      {"column far beyond the paper", File({"DEVICE", big_column, " 0 ,x, 0 "}),
       2, "column beyond", ""},
      {"text running off the line",
       File({"DEVICE", " 399 ," + std::string(10, 'z') + ", 0 "}), 2, "cut",
       std::string(398, ' ') + "zz"},
      {"negative line feeds", File({"DEVICE", " 1 ,a,-3 ", " 2 ,b, 0 "}), 2,
       "negative line feeds", "ab"},
      {"unknown control", File({"DEVICE", "*xyz", " 1 ,x, 0 "}), 2,
       "unknown control", "x"},
      {"unknown justification", File({"DEVICE", "JUSZ", " 1 ,x, 0 "}), 2,
       "unknown justification", "x"},
      {"page length not a number", File({"DEVICE", "PAGE abc", " 1 ,x, 0 "}), 2,
       "not a number", "x"},
      {"page length zero", File({"DEVICE", "PAGE 0 ", " 1 ,x, 0 "}), 2,
       "below 1", "x"},
      {"truncated last line", "DEVICE\r\nPAGE 66 \r\n 1 ,x, 0", 3, "cut short",
       "x"},
      {"cut inside the number", "DEVICE\r\nPAGE 66 \r\n 1 ,x, ", 3, "cut short",
       "x"},
      {"binary noise",
       std::string("DEVICE\r\n 1 ,a\x01\x7f\xff", 16) + "b, 0 \r\n", 0, "",
       "a   b"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.what);
    PrintDocument document = ReadPrintFile(c.bytes);
    if (*c.message_part == '\0') {
      EXPECT_FALSE(document.first_problem);
    } else {
      ASSERT_TRUE(document.first_problem);
      EXPECT_EQ(document.first_problem->line_number, c.line);
      EXPECT_NE(document.first_problem->message.find(c.message_part),
                std::string::npos)
          << document.first_problem->message;
    }
    EXPECT_EQ(Row(document, 0, 0), c.first_row);
  }
}

TEST(PrintDocumentTest, HugeNumbersAreCapped) {
  PrintDocument document = ReadPrintFile(File({
      "DEVICE",
      "PAGE 99999999999999999999 ",
      " 1 ,a, 99999999999999999999 ",
      " 1 ,b, 0 ",
  }));
  ASSERT_EQ(document.pages.size(), 2u);
  EXPECT_EQ(document.pages[0].length, kMaxPageLength);
  EXPECT_EQ(Row(document, 0, 0), "a");
  // The line feeds run past the page: b starts the next one.
  EXPECT_EQ(Row(document, 1, 0), "b");
  EXPECT_EQ(document.problem_count, 3);
  EXPECT_EQ(document.first_problem->line_number, 2);
}

TEST(PrintDocumentTest, PagesBeyondTheCapAreDropped) {
  std::string bytes = "DEVICE\r\n";
  for (int i = 0; i < kMaxPages + 5; ++i) bytes += "PAGE 1 \r\n 1 ,x, 1 \r\n";
  PrintDocument document = ReadPrintFile(bytes);
  EXPECT_EQ(document.pages.size(), static_cast<size_t>(kMaxPages));
  ASSERT_TRUE(document.first_problem);
  EXPECT_NE(document.first_problem->message.find("too many pages"),
            std::string::npos);
  EXPECT_EQ(document.problem_count, 1);
}

TEST(PrintDocumentTest, LineFeedsAloneAndCrLessLinesAreRead) {
  PrintDocument document = ReadPrintFile("DEVICETXT\nPAGE 4\n 2 ,x, 1\n");
  EXPECT_FALSE(document.first_problem);
  EXPECT_EQ(document.device, "TXT");
  EXPECT_EQ(document.pages.at(0).length, 4);
  EXPECT_EQ(Row(document, 0, 0), " x");
}

TEST(TextRendererTest, SampleFileRendersAsTheGoldenText) {
  std::string dir = testing::SourceDir() + "/tools/kelprint/testdata/";
  std::ifstream tmp(dir + "sample.tmp", std::ios::binary);
  std::ifstream txt(dir + "sample.txt", std::ios::binary);
  ASSERT_TRUE(tmp && txt) << dir;
  std::string bytes((std::istreambuf_iterator<char>(tmp)), {});
  std::string expected((std::istreambuf_iterator<char>(txt)), {});
  PrintDocument document = ReadPrintFile(bytes);
  EXPECT_FALSE(document.first_problem) << document.first_problem->Describe();
  EXPECT_EQ(RenderText(document), expected);
}

TEST(TextRendererTest, BlankPagesAndEmptyDocuments) {
  EXPECT_EQ(RenderText(ReadPrintFile("")), "");
  EXPECT_EQ(RenderText(ReadPrintFile(File({"DEVICE", "PAGE 66 ", "PAGE 66 ",
                                           " 1 ,   , 3 ", " 2 ,x, 0 "}))),
            "\f\n\n\n x\n");
}

TEST(PrintDocumentTest, TitleIsTheLineAboveTheUnderlinedOne) {
  const std::string dir = testing::SourceDir() + "/src/report/testdata/";
  struct Case {
    std::string bytes;
    const char* title;  // UTF-8
  };
  auto golden = [&](const char* name) {
    std::ifstream in(dir + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  const Case cases[] = {
      // The report with its letterhead, and on preprinted paper.
      {golden("demo_all_catalan.prn"),
       "RESUM DE LIQUIDACIÓ DES DEL 1 DE SETEMBRE DEL 2026 FINS AL 30 DE "
       "NOVEMBRE DEL 2026"},
      {golden("demo_preprinted_catalan.prn"),
       "RESUM DE LIQUIDACIÓ FINS AL 30 DE NOVEMBRE DEL 2026"},
      {golden("demo_part_spanish.prn"), nullptr},  // checked below
      // A rule alone, or under a blank line, underlines nothing.
      {File({"DEVICE", "PAGE 66 ", " 1 ,=====, 2 ", " 3 ,  First text , 1 ",
             " 1 ,, 1 ", " 1 ,===, 1 "}),
       "First text"},
      // "=" inside other text is no rule; a short one is none either.
      {File({"DEVICE", " 1 ,A = B, 1 ", " 1 ,==, 1 "}), "A = B"},
      {File({"DEVICE", "PAGE 66 "}), ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    const std::string title =
        Utf8FromCp850(DocumentTitle(ReadPrintFile(c.bytes)));
    if (c.title == nullptr) {
      EXPECT_EQ(title.rfind("RESUMEN DE LIQUIDACIÓN", 0), 0u) << title;
    } else {
      EXPECT_EQ(title, c.title);
    }
  }
}

}  // namespace
}  // namespace tarnevos::kelprint
