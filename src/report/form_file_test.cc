#include "report/form_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "console/field_editor.h"
#include "console/form_table.h"
#include "platform/system/system.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/numbers.h"

namespace tarnevos {
namespace {

std::string SourceFile(const std::string& relative) {
  std::ifstream in(testing::SourceDir() + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The suite's files are CP850 with CR LF; the repository keeps them as
// UTF-8 with LF.
std::string AsInstalled(const std::string& utf8) {
  std::string out;
  for (char c : Cp850(utf8)) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

class FormFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    platform::TEST_SetToday(platform::CalendarDay{2026, 6, 1});
    TEST_MutableSession().root_dir = root_.path();
    TEST_MutableSession().language = "CAT";
    TEST_MutableSession().work_date = PackDigits("20240315");
    MutableRun().program_id = "TARNEVOS";
  }
  void TearDown() override { testing::ResetRunState(); }

  void InstallDemo() {
    root_.Write("FORMS/TARNEVOS.KPN",
                AsInstalled(SourceFile("demo/root/FORMS/TARNEVOS.KPN")));
    root_.Write("LOCALE/TARNEVOS.LNG",
                AsInstalled(SourceFile("demo/root/LOCALE/TARNEVOS.LNG")));
  }

  testing::ScratchDir root_;
  testing::ScopedEnv env_{{"KELROOT", root_.path()}};
};

TEST_F(FormFileTest, ReadsTheDemoFormsWithDefaultsAndLookups) {
  InstallDemo();
  std::string error;
  ASSERT_TRUE(ReadFormFile(&error)) << error;
  const FormTables& tables = Forms();
  EXPECT_EQ(tables.form_count, 2);
  EXPECT_EQ(Form(1).next_form, 0);
  EXPECT_NE(Form(1).key_list.find("3e00"), std::string::npos);
  // Enter moves between fields only while End is not an accepted key.
  EXPECT_EQ(Form(1).key_list.find("4f00"), std::string::npos);

  // The six parameters, in order, with their types, lookups and defaults.
  const struct {
    int16_t type, lookup;
    const char* value;
  } expected[] = {{1, 0, "150324    "}, {2, 1, "1  "}, {2, 2, "0  "},
                  {2, 1, "999"},        {2, 3, "999"}, {2, 0, "1  "}};
  for (int j = 1; j <= 6; ++j) {
    SCOPED_TRACE(j);
    EXPECT_EQ(Field(1, j).type, expected[j - 1].type);
    EXPECT_EQ(Field(1, j).lookup, expected[j - 1].lookup);
    EXPECT_EQ(Field(1, j).value, expected[j - 1].value);
    EXPECT_EQ(Field(1, j).flags & 4, 0);
  }
  EXPECT_EQ(Field(1, 1).label, Cp850("Data de tall .................: "));

  // Form 2: a choice whose first option is No, so Enter alone never
  // confirms.
  ASSERT_EQ(Form(2).field_count, 1);
  EXPECT_EQ(ChoiceDescription(Field(2, 1).choices, "N"), "No");
  EXPECT_EQ(ChoiceDescription(Field(2, 1).choices, "S"), Cp850("Sí"));
  EXPECT_EQ(Field(2, 1).choices.find("|N,"), 0u);

  ASSERT_EQ(tables.lookup_count, 3);
  const int16_t handles[] = {0, 511, 513, 513};
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(tables.lookup_attr[k][0], handles[k]);
    EXPECT_EQ(tables.lookup_attr[k][1], 0);
    EXPECT_EQ(tables.lookup_attr[k][6], 0);
    EXPECT_EQ(tables.lookup_attr[k][7], 0);
  }
}

// The form and language files written in UTF-8 (with LF, with or without
// the byte-order mark) give the same forms, in every language.
TEST_F(FormFileTest, FormAndLanguageFilesWrittenInUtf8ReadAsInCp850) {
  for (const char* language : {"CAT", "SPA", "GLG", "OCI"}) {
    SCOPED_TRACE(language);
    TEST_MutableSession().language = language;
    InstallDemo();
    std::string error;
    ASSERT_TRUE(ReadFormFile(&error)) << error;
    const FormTables cp850 = Forms();

    root_.Write("FORMS/TARNEVOS.KPN",
                "\xEF\xBB\xBF" + SourceFile("demo/root/FORMS/TARNEVOS.KPN"));
    root_.Write("LOCALE/TARNEVOS.LNG",
                SourceFile("demo/root/LOCALE/TARNEVOS.LNG"));
    ASSERT_TRUE(ReadFormFile(&error)) << error;
    const FormTables& utf8 = Forms();
    ASSERT_EQ(utf8.form_count, cp850.form_count);
    for (int16_t form = 1; form <= cp850.form_count; ++form) {
      ASSERT_EQ(Form(form).field_count, cp850.forms[form].field_count);
      EXPECT_EQ(Form(form).key_list, cp850.forms[form].key_list);
      for (int16_t field = 1; field <= Form(form).field_count; ++field) {
        const FieldDef& expected = cp850.forms[form].fields[field];
        EXPECT_EQ(Field(form, field).label, expected.label);
        EXPECT_EQ(Field(form, field).choices, expected.choices);
        EXPECT_EQ(Field(form, field).value, expected.value);
      }
    }
    EXPECT_EQ(utf8.lookup_text, cp850.lookup_text);
  }
}

// Every translation must fit the same screen: labels inside the form's
// window, lookup lines inside their frames, and report headings as wide as
// the Catalan ones.
TEST_F(FormFileTest, DemoLayoutFitsTheScreenInEveryLanguage) {
  InstallDemo();
  for (const char* language : {"CAT", "SPA", "GLG", "OCI"}) {
    SCOPED_TRACE(language);
    TEST_MutableSession().language = language;
    ASSERT_TRUE(ReadFormFile());
    for (int f = 1; f <= Forms().form_count; ++f) {
      const auto& window = Form(f).window;
      const int inner_width = window[4] - window[2] - 1;
      const int inner_rows = window[3] - window[1] - 1;
      ASSERT_GT(window[1], 0);
      EXPECT_LE(window[3], 25);
      EXPECT_LE(window[4], 80);
      for (int j = 1; j <= Form(f).field_count; ++j) {
        const FieldDef& field = Field(f, j);
        const int value_width = field.type == 1 ? 10 : field.length;
        int shown = value_width + field.trailing_blanks;
        if (!field.choices.empty()) shown += 1;  // the right marker
        EXPECT_LE(
            field.column + static_cast<int>(field.label.size()) + shown - 1,
            inner_width)
            << field.label;
        EXPECT_LE(field.row, inner_rows);
      }
    }
    // Lookup 1 lists 3 + 2 + 30 characters, lookups 2 and 3 47.
    const int line_widths[] = {0, 35, 47, 47};
    for (int k = 1; k <= Forms().lookup_count; ++k) {
      const auto& attr = Forms().lookup_attr[k];
      EXPECT_GE(attr[5] - attr[3] - 1, line_widths[k]);
      EXPECT_LE(attr[4], 25);
      EXPECT_LE(attr[5], 80);
      EXPECT_LE(static_cast<int>(Forms().lookup_text[k].size()),
                attr[5] - attr[3] - 1);
    }
  }
}

TEST_F(FormFileTest, CommentsAreSkippedOnlyAtRecordStarts) {
  root_.Write("FORMS/TARNEVOS.KPN",
              "  ' a comment, with commas\r\n"
              "1,6\r\n"
              "\t' another\r\n"
              "\"d,1b\",2,0,0,0,0,0\r\n"
              "1,1,\"It's\",2,0,0,0,0,0,\"\"\r\n"
              "2,1,B,8,0,0,0,0,0,\"\"\r\n"
              "' before the lookups\r\n"
              "0\r\n");
  ASSERT_TRUE(ReadFormFile());
  EXPECT_EQ(Field(1, 1).label, "It's");
  EXPECT_EQ(Field(1, 1).value, "15");  // the date cut at a length of 2
  EXPECT_EQ(Field(1, 2).value, "1       ");
  EXPECT_EQ(Field(1, 3).value, "");  // not in the file: length 0

  root_.Write("FORMS/TARNEVOS.KPN",
              "1,6\r\n"
              "\"d\",2,0,0,0,0,0\r\n"
              "1,1,A,3,0,0,0,0,0,\"\"\r\n"
              "' not allowed between the fields of a form\r\n"
              "2,1,B,3,0,0,0,0,0,\"\"\r\n");
  std::string error;
  EXPECT_FALSE(ReadFormFile(&error));
  EXPECT_NE(error.find(Cp850("LÍNIA 4")), std::string::npos) << error;
  EXPECT_EQ(Forms().form_count, 0);  // nothing half-read is kept
}

// A file cut short before every form of its header, or every lookup of its
// count, was read is refused: a form that was never read has no keys and
// no fields, and the report loop could not show it. Only the lookup
// section as a whole may be left out.
TEST_F(FormFileTest, AFileEndingBeforeItsAnnouncedFormsIsRefused) {
  root_.Write("FORMS/TARNEVOS.KPN",
              "1,2\r\n\"d\",1,0,0,0,0,0\r\n4,5,A,3,0,0,0,2,0,\"\"\r\n");
  ASSERT_TRUE(ReadFormFile());
  EXPECT_EQ(Field(1, 1).row, 4);
  EXPECT_EQ(Forms().lookup_count, 0);

  const struct {
    std::string contents;
    int line;
  } cases[] = {
      {"2,10", 1},
      {"2,10\r\n", 2},
      {"3,2\r\n\"d\",1,0,0,0,0,0\r\n4,5,A,3,0,0,0,2,0,\"\"\r\n", 4},
      {"1,2\r\n\"d\",0,0,0,0,0,0\r\n2\r\n1,0,1,1,9,9,0,T,0\r\n' end\r\n", 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents);
    root_.Write("FORMS/TARNEVOS.KPN", c.contents);
    std::string error;
    EXPECT_FALSE(ReadFormFile(&error));
    EXPECT_NE(error.find(Cp850("LÍNIA ") + std::to_string(c.line)),
              std::string::npos)
        << error;
    EXPECT_NE(error.find("HI FALTEN"), std::string::npos) << error;
    EXPECT_EQ(Forms().form_count, 0);
  }

  // The demo's form file cut after any line from its header up to its
  // last form record is refused.
  const std::string demo =
      AsInstalled(SourceFile("demo/root/FORMS/TARNEVOS.KPN"));
  const size_t header = demo.find("\r\n2,10\r\n") + 2;
  const size_t last_form = demo.find("\"d,1b\",1,0");
  ASSERT_NE(header, std::string::npos);
  ASSERT_NE(last_form, std::string::npos);
  for (size_t cut = demo.find("\r\n", header) + 2; cut <= last_form + 1;
       cut = demo.find("\r\n", cut) + 2) {
    root_.Write("FORMS/TARNEVOS.KPN", demo.substr(0, cut));
    EXPECT_FALSE(ReadFormFile()) << "cut at byte " << cut;
  }
}

TEST_F(FormFileTest, TranslatesLabelsChoicesAndHeadings) {
  root_.Write("FORMS/TARNEVOS.KPN",
              AsInstalled("1,1\n\"d\",1,0,0,0,0,0\n"
                          "1,1,\"Sí? \",1,0,0,0,0,0,\"|N,No|S,Sí\"\n"
                          "1\n511,0,1,1,20,60,0,\"CODI\",0\n"));
  root_.Write("LOCALE/TARNEVOS.LNG",
              AsInstalled("\"Sí? \",\"Si? \",\"Òc? \",\"¿Sí? \"\n"
                          "\"|N,No|S,Sí\",\"|N,Non|S,Si\",\"|N,Non|S,Òc\","
                          "\"|N,No|S,Sí\"\n"
                          "CODI,COD.,CÒDI,CÓD.\n"));
  TEST_MutableSession().language = "OCI";
  ASSERT_TRUE(ReadFormFile());
  EXPECT_EQ(Field(1, 1).label, Cp850("Òc? "));
  EXPECT_EQ(Field(1, 1).choices, Cp850("|N,Non|S,Òc"));
  EXPECT_EQ(Forms().lookup_text[1], Cp850("CÒDI"));
}

TEST_F(FormFileTest, RefusesMissingAndMalformedFilesWithAClearMessage) {
  std::string error;
  EXPECT_FALSE(ReadFormFile(&error));
  EXPECT_NE(error.find("TARNEVOS.KPN"), std::string::npos) << error;
  EXPECT_NE(error.find("NO ES POT LLEGIR"), std::string::npos) << error;

  const std::string form = "\"d\",1,0,0,0,0,0\r\n";
  const std::string field = "1,1,A,3,0,0,0,0,0,\"\"\r\n";
  const struct {
    std::string contents;
    int line;
  } cases[] = {
      {"", 1},
      {"' only a comment\r\n", 2},
      {"0,5\r\n", 1},                        // FormCount below 1
      {"30000,5\r\n", 1},                    // absurdly many forms
      {"1,30000\r\n", 1},                    // absurd MaxFields
      {"1,-3\r\n", 1},                       // negative MaxFields
      {"1,5\r\n\"d\",-1,0,0,0,0,0\r\n", 2},  // negative field count
      {"1,1\r\n\"d\",2,0,0,0,0,0\r\n" + field + field, 2},  // above MaxFields
      {"1,abc\r\n", 1},  // a text where a number is due
      {"1,5\r\n" + form + "1,1,A,three,0,0,0,0,0,\"\"\r\n", 3},
      {"1,5\r\n" + form + "1,1,A,3,0", 3},  // ends inside a record
      {"1\r\n", 1},                         // header cut short
      {"1,5\r\n\"d\",1,0,0,0,0,0\r\n1,1,A,3,0,0,0,0,0,\"\"\r\n0\r\n7,8\r\n",
       5},                                  // records after 0 lookups
      {"1,5\r\n\"d\",1,9,0,0,0,0\r\n", 2},  // continuation that is not there
      {"1,5\r\n" + form + "1,1,A,30000,0,0,0,0,0,\"\"\r\n", 3},  // huge value
      {"1,5\r\n" + form + field + "200\r\n", 4},  // absurd lookup count
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents);
    root_.Write("FORMS/TARNEVOS.KPN", c.contents);
    error.clear();
    EXPECT_FALSE(ReadFormFile(&error));
    EXPECT_NE(error.find("TARNEVOS.KPN"), std::string::npos) << error;
    EXPECT_NE(error.find(Cp850("LÍNIA ") + std::to_string(c.line)),
              std::string::npos)
        << error;
    EXPECT_EQ(Forms().form_count, 0);
    EXPECT_TRUE(Forms().forms.empty());
  }

  // The message speaks the session's language.
  TEST_MutableSession().language = "SPA";
  root_.Write("FORMS/TARNEVOS.KPN", "0,1\r\n");
  EXPECT_FALSE(ReadFormFile(&error));
  EXPECT_NE(error.find(Cp850("LÍNEA 1")), std::string::npos) << error;

  // Blank lines and comments after a final lookup count of 0 are fine.
  root_.Write("FORMS/TARNEVOS.KPN",
              "1,5\r\n" + form + field + "0\r\n\r\n' the end\r\n  \r\n");
  EXPECT_TRUE(ReadFormFile(&error)) << error;
}

}  // namespace
}  // namespace tarnevos
