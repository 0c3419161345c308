#include "console/messages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "console/keyboard.h"
#include "console/windows.h"
#include "platform/console/memory_console.h"
#include "platform/system/files.h"
#include "platform/system/paths.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

using platform::InputEvent;
using platform::MemoryConsole;
using platform::ScreenBuffer;

TEST(FormatParagraphTest, LaysOutLinesWithIndentsAndAlignments) {
  struct Case {
    std::string text;
    int16_t indent;
    int16_t width;
    const char* alignment;
    std::string expected;
  };
  const Case cases[] = {
      {"ABC DEF GHI", 0, 7, "L",
       "ABC DEF"
       "GHI    "},
      {"ABC DEF GHI", 0, 7, "e",
       "ABC DEF"
       "GHI    "},
      {"ABC DEF GHI", 0, 7, "C",
       "ABC DEF"
       "  GHI  "},
      {"ABC DEF GHI", 0, 7, "R",
       "ABC DEF"
       "    GHI"},
      {"ABC DEF GHI", 0, 7, "d",
       "ABC DEF"
       "    GHI"},
      {"ABC DEF GHI", 0, 7, "N",
       "ABC DEF"
       "GHI----"},
      {"ABC DEF GHI", 0, 7, "X",
       "ABC DEF"
       "GHI"},
      {"ABC DEF GHI", 0, 7, "",
       "ABC DEF"
       "GHI"},
      {"ABC DEF GHI", 2, 7, "L",
       "  ABC  "
       "DEF GHI"},
      {"ABC DEF GHI", -2, 7, "L",
       "ABC DEF"
       "  GHI  "},
      {"ABCDEFGHIJ", 0, 4, "L",
       "ABCD"
       "EFGH"
       "IJ  "},
      {"AB    CD", 0, 2, "L",
       "AB"
       "CD"},
      {"AB CD EF GH", 0, 10, "A",
       "AB  CD  EF"
       "GH"},
      {"AA B C DDDDD", 0, 9, "b",
       "AA   B  C"
       "DDDDD"},
      {"ABCDEFGH IJ", 0, 5, "A",
       "ABCDE"
       "FGH"
       "IJ"},
      // Control characters ride along without taking a column.
      {"\x1e"
       "AB\x1e CD",
       0, 3, "L",
       "\x1e"
       "AB\x1e "
       "CD "},
      {"ABC\x1f"
       "DEF",
       0, 3, "L",
       "ABC\x1f"
       "DEF"},
      {"", 0, 10, "L", ""},
      // No room after the indent: one character per line, never stuck.
      {"AB", 0, 0, "L",
       "A"
       "B"},
      {"AB", 5, 3, "I",
       "     A"
       "B  "},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    FormatParagraph(text, c.indent, c.width, c.alignment);
    EXPECT_EQ(text, c.expected) << '"' << c.text << "\" indent " << c.indent
                                << " width " << c.width << " " << c.alignment;
  }
}

TEST(HelpFileTest, LinesAreFixedRecordsAndControlBytesSwitchStyles) {
  struct Count {
    size_t size;
    int length;
    long lines;
  };
  for (const Count& c :
       {Count{0, 80, 0}, Count{79, 80, 1}, Count{40, 80, 0}, Count{41, 80, 1},
        Count{120, 80, 2}, Count{200, 80, 2}, Count{280, 80, 4},
        Count{1600, 80, 20}, Count{5, 0, 0}}) {
    EXPECT_EQ(HelpLineCount(c.size, c.length), c.lines) << c.size;
  }

  const std::string file = std::string(80, 'a') + std::string(80, 'b') + "cc";
  EXPECT_EQ(HelpFileLine(file, 80, 2), std::string(80, 'b'));
  EXPECT_EQ(HelpFileLine(file, 80, 3), "cc");
  EXPECT_EQ(HelpFileLine(file, 80, 4), "");
  EXPECT_EQ(HelpFileLine(file, 80, 0), "");
  EXPECT_EQ(HelpFileLine(file, 80, 0x7FFFFFFFL), "");
  EXPECT_EQ(HelpFileLine(file, 0, 1), "");

  const std::vector<HelpSegment> segments = HelpLineSegments(
      "A\x1e"
      "HI\x1e"
      "B\x1f"
      "U\x1e"
      "N\x1e\x1f"
      "C\x10"
      "RV\x10"
      "D");
  std::string layout;
  for (const HelpSegment& s : segments) {
    layout += std::string(1, s.attribute) + ":" + s.text + " ";
  }
  // A highlight toggled inside an underline does not show.
  EXPECT_EQ(layout, "n:A h:HI n:B u:UN n:C r:RV n:D ");

  const std::vector<HelpSegment> wide =
      HelpLineSegments(std::string(10, '\x1e') + std::string(100, 'x'));
  size_t shown = 0;
  for (const HelpSegment& s : wide) shown += s.text.size();
  EXPECT_EQ(shown, 76u);
}

// A memory console that keeps the screen as it was before each scripted
// event is taken, so a test can look at every state of a modal screen.
class SnapshotConsole : public MemoryConsole {
 public:
  InputEvent PollEvent() override {
    if (PendingEvents() > 0) snapshots.push_back(screen());
    return MemoryConsole::PollEvent();
  }
  std::vector<ScreenBuffer> snapshots;
};

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    platform::SetConsole(&console_);
    SessionSettings& session = TEST_MutableSession();
    session = SessionSettings{};
    session.tmp_dir = scratch_.path();
    session.screen_colours = {{{15, 0}, {7, 0}, {0, 7}, {1, 3}, {14, 1}}};
    old_directory_ = std::filesystem::current_path();
    platform::ChangeDirectory(scratch_.path());
  }
  void TearDown() override {
    std::filesystem::current_path(old_directory_);
    platform::SetConsole(nullptr);
    testing::ResetRunState();
  }

  // A help file of `count` lines "LINE nn", each an 80-byte record.
  void WriteHelp(const std::string& subject, int count) {
    std::string bytes;
    for (int i = 1; i <= count; ++i) {
      std::string line =
          "LINE " + std::string(i < 10 ? "0" : "") + std::to_string(i);
      line.resize(78, ' ');
      bytes += line + "\r\n";
    }
    scratch_.Write("AJUDA/" + subject + ".HLP", bytes);
  }

  // The labels of the first and last text rows of the help viewer.
  static std::string Shown(const ScreenBuffer& screen) {
    auto label = [&screen](int row) {
      std::string text;
      for (int c = 3; c <= 9; ++c) {
        text.push_back(static_cast<char>(screen.At(row, c).character));
      }
      return text;
    };
    return label(5) + ".." + label(21);
  }

  SnapshotConsole console_;
  testing::ScratchDir scratch_;
  std::filesystem::path old_directory_;
};

TEST_F(MessagesTest, MessageBoxCentresOnTheRowAndKeepsTheColour) {
  for (int r = 1; r <= 25; ++r)
    console_.Write(r, 1, std::string(80, '.'), 0x07);
  const ScreenBuffer before = console_.screen();
  SetColour("u");
  const unsigned char colour = CurrentColourByte();

  const std::string text(30, 'M');
  ASSERT_TRUE(MessageBox(24, text));
  EXPECT_EQ(WindowDepth(), 1);
  EXPECT_EQ(WindowFirstRow(), 22);
  EXPECT_EQ(WindowFirstColumn(), 25);
  EXPECT_EQ(WindowLastColumn(), 56);
  EXPECT_EQ(scratch_.Read("WinPush.tmp").substr(4 + 12, 8), "21242357");
  EXPECT_EQ(console_.ReadCell(21, 24).character, 218);
  EXPECT_EQ(console_.ReadCell(23, 57).character, 217);
  EXPECT_EQ(console_.RowText(22).substr(23, 34), "\xb3 " + text + " \xb3");
  EXPECT_EQ(console_.ColourAt(22, 30), 0x70);  // reverse role
  EXPECT_EQ(console_.RowText(20), std::string(80, '.'));
  EXPECT_EQ(CurrentAttribute(), 4);
  EXPECT_EQ(CurrentColourByte(), colour);
  PopWindow();
  EXPECT_TRUE(console_.screen() == before);

  // Row 12, a short text: rows 9 to 11, four columns wider than the text.
  ASSERT_TRUE(MessageBox(12, "HOLA"));
  EXPECT_EQ(scratch_.Read("WinPush.tmp").substr(4 + 12, 8), "09371144");
  PopWindow();

  // Two lines of text near the top: clipped to row 1.
  ASSERT_TRUE(MessageBox(1, std::string(50, 'A') + " " + std::string(50, 'B')));
  EXPECT_EQ(scratch_.Read("WinPush.tmp").substr(4 + 12, 8), "01140467");
  EXPECT_EQ(console_.RowText(2).substr(15, 51), std::string(50, 'A') + " ");
  EXPECT_EQ(console_.RowText(3).substr(15, 51), std::string(50, 'B') + " ");
  PopWindow();

  // More lines than the screen holds: nothing shown, nothing pushed.
  std::string huge;
  for (int i = 0; i < 30; ++i) huge += std::string(70, 'W') + " ";
  EXPECT_FALSE(MessageBox(12, huge));
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(scratch_.Exists("WinPush.tmp"));
  EXPECT_EQ(CurrentAttribute(), 4);
  EXPECT_EQ(CurrentColourByte(), colour);
  EXPECT_TRUE(console_.screen() == before);
  SetColour("-");  // the stack holds nothing left over by the boxes
  EXPECT_EQ(CurrentAttribute(), 0);
}

TEST_F(MessagesTest, HelpViewerPagesThroughTheFile) {
  WriteHelp("TARNEVOS", 40);
  console_.Write(12, 1, "under", 0x07);
  const ScreenBuffer before = console_.screen();
  SetColour("u");
  for (KeyCode k : {key::kUp, key::kDown, key::kUp, key::kPgDn, key::kPgDn,
                    key::kPgDn, key::kDown, key::kPgUp, key::kHome, key::kHome,
                    key::kEnd, key::kUp, KeyCode{'x'}, key::kEsc}) {
    if (k > 0 && k < 256) {
      console_.PushKey(k);
    } else {
      console_.PushExtended(k);
    }
  }
  ShowHelp("TARNEVOS");

  const std::vector<std::string> expected = {
      "LINE 01..LINE 17",  // shown first
      "LINE 01..LINE 17",  // Up on the first page: nothing
      "LINE 02..LINE 18",  // Down
      "LINE 01..LINE 17",  // Up
      "LINE 18..LINE 34",  // PgDn
      "LINE 24..LINE 40",  // PgDn: the last page ends with the last line
      "LINE 24..LINE 40",  // PgDn at the end: nothing
      "LINE 24..LINE 40",  // Down on the last line: nothing
      "LINE 08..LINE 24",  // PgUp
      "LINE 01..LINE 17",  // Home
      "LINE 01..LINE 17",  // Home on the first page: nothing
      "LINE 24..LINE 40",  // End
      "LINE 23..LINE 39",  // Up
      "LINE 23..LINE 39",  // other keys are ignored
  };
  ASSERT_EQ(console_.snapshots.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Shown(console_.snapshots[i]), expected[i]) << "step " << i;
  }
  const ScreenBuffer& first = console_.snapshots[0];
  EXPECT_EQ(first.At(4, 1).character, 201);  // double frame, rows 4..22
  EXPECT_EQ(first.At(22, 80).character, 188);
  EXPECT_EQ(first.At(5, 3).colour, 0x07);  // text in the normal colour
  EXPECT_EQ(first.At(4, 1).colour, 0x0F);  // frame highlighted
  EXPECT_EQ(console_.snapshots[2].At(21, 30).colour, 0x07);

  EXPECT_TRUE(console_.screen() == before);
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_EQ(CurrentAttribute(), 4);
}

TEST_F(MessagesTest, HelpViewerShowsStylesAndAtMostSeventySixCharacters) {
  std::string first =
      "A\x1e"
      "HI\x1e"
      "B\x1f"
      "UN\x1f"
      "C\x10"
      "RV\x10"
      "D";
  first.resize(80, ' ');
  scratch_.Write("AJUDA/STYLE.HLP", first + std::string(80, 'X'));
  console_.PushKey(key::kEsc);
  ShowHelp("style");  // found whatever the case of the name
  ASSERT_EQ(console_.snapshots.size(), 1u);
  const ScreenBuffer& s = console_.snapshots[0];
  std::string row5;
  std::vector<unsigned char> colours;
  for (int c = 3; c <= 12; ++c) {
    row5.push_back(static_cast<char>(s.At(5, c).character));
    colours.push_back(s.At(5, c).colour);
  }
  EXPECT_EQ(row5, "AHIBUNCRVD");
  EXPECT_EQ(colours,
            (std::vector<unsigned char>{0x07, 0x0F, 0x0F, 0x07, 0x1E, 0x1E,
                                        0x07, 0x70, 0x70, 0x07}));
  EXPECT_EQ(s.At(6, 78).character, 'X');
  EXPECT_EQ(s.At(6, 79).character, ' ');
  EXPECT_EQ(s.At(6, 80).character, 186);
}

TEST_F(MessagesTest, HelpViewerCopesWithShortMissingAndOddFiles) {
  // Shorter than a page: nothing moves, nothing runs below line 1.
  WriteHelp("SHORT", 5);
  for (KeyCode k :
       {key::kPgDn, key::kEnd, key::kDown, key::kPgUp, key::kUp, key::kHome}) {
    console_.PushExtended(k);
  }
  console_.PushKey(key::kEsc);
  ShowHelp("SHORT");
  ASSERT_EQ(console_.snapshots.size(), 7u);
  for (const ScreenBuffer& s : console_.snapshots) {
    EXPECT_EQ(Shown(s), "LINE 01..       ");
  }

  // Missing or empty: a message names the file until any key, no viewer
  // opens and no file is created.
  scratch_.Write("AJUDA/EMPTY.HLP", "");
  for (const std::string subject : {"NOPE", "EMPTY"}) {
    console_.snapshots.clear();
    console_.PushExtended(key::kEnd);
    ShowHelp(subject);
    ASSERT_EQ(console_.snapshots.size(), 1u) << subject;
    std::string row;
    for (int c = 1; c <= 80; ++c) {
      row.push_back(
          static_cast<char>(console_.snapshots[0].At(10, c).character));
    }
    EXPECT_NE(row.find("NO HI HA AJUDA PER A " + subject +
                       ": FALTA EL FITXER AJUDA\\" + subject + ".HLP"),
              std::string::npos)
        << row;
    EXPECT_EQ(console_.snapshots[0].At(4, 1).character, ' ');  // no viewer
    EXPECT_EQ(console_.PendingEvents(), 0u);
    EXPECT_EQ(WindowDepth(), 0);
  }
  EXPECT_FALSE(platform::Files().Exists(scratch_.path() + "AJUDA/NOPE.HLP"));

  // Not a whole number of lines, control bytes everywhere.
  std::string odd;
  for (int i = 0; i < 1234; ++i) odd.push_back(static_cast<char>(i * 37 % 32));
  scratch_.Write("AJUDA/ODD.HLP", odd);
  console_.snapshots.clear();
  for (KeyCode k :
       {key::kEnd, key::kPgUp, key::kPgDn, key::kDown, key::kUp, key::kHome}) {
    console_.PushExtended(k);
  }
  console_.PushKey(key::kEsc);
  ShowHelp("ODD");
  EXPECT_EQ(console_.snapshots.size(), 7u);
  EXPECT_EQ(WindowDepth(), 0);
}

TEST_F(MessagesTest, NoHelpMessagesSpeakTheSessionsLanguage) {
  const std::pair<const char*, std::string> cases[] = {
      {"CAT", "NO HI HA AJUDA PER A X: FALTA EL FITXER AJUDA\\X.HLP"},
      {"SPA", "NO HAY AYUDA PARA X: FALTA EL FICHERO AJUDA\\X.HLP"},
      {"GLG", "NON HAI AXUDA PARA X: FALTA O FICHEIRO AJUDA\\X.HLP"},
      {"OCI", Cp850("NON I A AJUDA TÀ X: MANCA ETH FICHÈR AJUDA\\X.HLP")},
  };
  for (const auto& [language, expected] : cases) {
    TEST_MutableSession().language = language;
    EXPECT_EQ(NoHelpMessage("X"), expected);
    EXPECT_NE(NoHelpMessage("").find("(NomMenu)"), std::string::npos);
  }
}

TEST_F(MessagesTest, HelpFilesWrittenInUtf8AreShownInTheConsolesCodePage) {
  std::string line =
      "\xEF\xBB\xBF"
      "AJUDA DEL RESUM DE LIQUIDACIÓ";
  line.resize(80 + 3 + 1, ' ');  // the mark and the "Ó" take a byte more
  std::string second = "SEGONA";
  second.resize(80, ' ');
  scratch_.Write("AJUDA/UTF.HLP", line + second);
  console_.PushKey(key::kEsc);
  ShowHelp("UTF");
  ASSERT_EQ(console_.snapshots.size(), 1u);
  std::string shown;
  for (int c = 3; c <= 31; ++c) {
    shown.push_back(
        static_cast<char>(console_.snapshots[0].At(5, c).character));
  }
  EXPECT_EQ(shown, Cp850("AJUDA DEL RESUM DE LIQUIDACIÓ"));
  EXPECT_EQ(console_.snapshots[0].At(6, 3).character, 'S');
}

TEST_F(MessagesTest, F1OpensTheMenuHelpOnTopExceptInsideIt) {
  WriteHelp("TARNEVOS", 3);
  scratch_.Write("AJUDA/QAVIMENU.HLP", "MENU HELP" + std::string(71, ' '));
  console_.PushExtended(key::kF1);
  console_.PushExtended(key::kF1);  // inside the menu help: nothing
  console_.PushKey(key::kEsc);
  console_.PushKey(key::kEsc);
  ShowHelp("TARNEVOS");
  ASSERT_EQ(console_.snapshots.size(), 4u);
  EXPECT_EQ(Shown(console_.snapshots[0]).substr(0, 7), "LINE 01");
  EXPECT_EQ(Shown(console_.snapshots[1]).substr(0, 7), "MENU HE");
  EXPECT_EQ(Shown(console_.snapshots[2]).substr(0, 7), "MENU HE");
  EXPECT_EQ(Shown(console_.snapshots[3]).substr(0, 7), "LINE 01");
  EXPECT_EQ(console_.PendingEvents(), 0u);
  EXPECT_EQ(WindowDepth(), 0);
}

TEST_F(MessagesTest, WindowsHostsHandTheHelpPageToTheCommandInterpreter) {
  std::vector<std::pair<std::string, std::vector<std::string>>> runs;
  platform::TEST_SetProgramRunner(
      [&runs, this](std::string_view program,
                    const std::vector<std::string>& arguments) {
        EXPECT_TRUE(console_.suspended());
        runs.emplace_back(std::string(program), arguments);
        return platform::ProgramResult{.started = true};
      });
  TEST_MutableSession().host_kind = "WIN";
  TEST_MutableSession().root_dir = "C:\\KEL\\";
  const ScreenBuffer before = console_.screen();
  {
    testing::ScopedEnv env({{"COMSPEC", "C:\\WINDOWS\\CMD.EXE"}});
    ShowHelp("TARNEVOS");
  }
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].first, "C:\\WINDOWS\\CMD.EXE");
  EXPECT_EQ(runs[0].second,
            (std::vector<std::string>{"/C", "ZOPRUN",
                                      "C:\\KEL\\AJUDA\\TARNEVOS.HTM"}));
  EXPECT_FALSE(console_.suspended());
  EXPECT_EQ(console_.suspensions(), 1);
  EXPECT_TRUE(console_.screen() == before);

  testing::ScopedEnv no_interpreter({{"COMSPEC", std::nullopt}});
  ShowHelp("TARNEVOS");
  EXPECT_EQ(runs.size(), 1u);
}

}  // namespace
}  // namespace tarnevos
