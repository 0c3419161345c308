#include "kelprint/texts.h"

#include <gtest/gtest.h>

#include <set>

#include "kelprint/message_screen.h"
#include "platform/console/memory_console.h"
#include "util/codepage.h"

namespace tarnevos::kelprint {
namespace {

constexpr Language kLanguages[] = {Language::kCatalan, Language::kSpanish,
                                   Language::kGalician, Language::kAranese};
constexpr int kKinds = static_cast<int>(ProblemKind::kFeedsTooLarge) + 1;

// Every fixed text exists in each language, has its numbers filled in and
// differs from the other languages' (a text left untranslated would repeat
// another language's).
TEST(TextsTest, EveryProblemInEveryLanguage) {
  for (int kind = 0; kind < kKinds; ++kind) {
    std::set<std::string> texts;
    for (Language language : kLanguages) {
      const Problem problem{12, static_cast<ProblemKind>(kind), 1000, ""};
      const std::string text = ProblemText(language, problem, 1);
      SCOPED_TRACE(Utf8FromCp850(text));
      EXPECT_EQ(text.find('@'), std::string::npos);
      EXPECT_NE(text.find("12: "), std::string::npos);
      texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 4u) << "kind " << kind;
  }
  // Numbers the kinds name, and the problems that follow.
  const Problem overflow{3, ProblemKind::kPageOverflow, 66, ""};
  EXPECT_EQ(Utf8FromCp850(ProblemText(Language::kSpanish, overflow, 2)),
            "línea 3: la página supera sus 66 líneas; continúa en una página "
            "nueva (1 problema más)");
  const Problem empty{0, ProblemKind::kEmptyFile, 0, ""};
  EXPECT_EQ(Utf8FromCp850(ProblemText(Language::kCatalan, empty, 1)),
            "el fitxer d'impressió és buit");
}

TEST(TextsTest, EveryOutcomeInEveryLanguage) {
  using Kind = Outcome::Kind;
  for (Kind kind :
       {Kind::kPdfWritten, Kind::kTextWritten, Kind::kSpooled,
        Kind::kNothingToSpool, Kind::kCannotRead, Kind::kCannotWrite,
        Kind::kNoSpooler, Kind::kSpoolerFailed}) {
    std::set<std::vector<std::string>> said;
    for (Language language : kLanguages) {
      Outcome outcome;
      outcome.kind = kind;
      outcome.path = "/tmp/sessió/kelprint.pdf";
      outcome.pages = 7;
      outcome.queue = "oficina";
      outcome.job_id = "oficina-12";
      outcome.system_error = 28;  // ENOSPC
      outcome.exit_code = 2;
      outcome.detail = "lp: Error";
      const std::vector<std::string> lines = OutcomeLines(language, outcome);
      ASSERT_FALSE(lines.empty());
      for (const std::string& line : lines) {
        EXPECT_EQ(line.find('@'), std::string::npos) << Utf8FromCp850(line);
        EXPECT_LE(line.size(), 72u) << Utf8FromCp850(line);
      }
      said.insert(lines);
    }
    EXPECT_EQ(said.size(), 4u) << static_cast<int>(kind);
  }
  Outcome spooled;
  spooled.kind = Outcome::Kind::kSpooled;
  spooled.path = "/tmp/sessió/kelprint.pdf";
  spooled.pages = 1;
  spooled.job_id = "oficina-12";
  std::vector<std::string> lines = OutcomeLines(Language::kCatalan, spooled);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(Utf8FromCp850(lines[0]),
            "S'ha enviat el document (1 pàgina) a la impressora "
            "predeterminada.");
  EXPECT_EQ(lines[1], "Treball: oficina-12");
  EXPECT_EQ(Utf8FromCp850(lines[3]), "/tmp/sessió/kelprint.pdf");
  // Reasons the system gives, and the rest by number.
  Outcome refused;
  refused.kind = Outcome::Kind::kCannotWrite;
  refused.system_error = 13;  // EACCES
  EXPECT_EQ(Utf8FromCp850(OutcomeLines(Language::kGalician, refused)[2]),
            "(non hai permiso)");
  refused.system_error = 110;
  EXPECT_EQ(Utf8FromCp850(OutcomeLines(Language::kAranese, refused)[2]),
            "(error deth sistèma 110)");
}

TEST(MessageScreenTest, LongLinesBreakAndTheBoxIsCentred) {
  const std::string path = "/" + std::string(100, 'x');
  const std::vector<std::string> rows = MessageRows({"a", "", path}, 80);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1], "");
  EXPECT_EQ(rows[2].size(), 72u);
  EXPECT_EQ(rows[2] + rows[3], path);

  platform::MemoryConsole console;
  console.PushKey('x');
  console.PushKey('y');  // not read: one key is enough
  ShowMessage(console, {Cp850("Gardouse o documento"), "/tmp/a.pdf"},
              Cp850("Prema unha tecla"), false);
  EXPECT_EQ(console.PendingEvents(), 1u);
  EXPECT_EQ(console.ExhaustedWaits(), 0);
  // Frame, the two lines, a blank line and the key line, in the middle.
  EXPECT_EQ(console.RowUtf8(10),
            std::string(28, ' ') + "╔══════════════════════╗");
  EXPECT_EQ(console.RowUtf8(11),
            std::string(28, ' ') + "║ Gardouse o documento ║");
  EXPECT_EQ(console.RowUtf8(12),
            std::string(28, ' ') + "║ /tmp/a.pdf           ║");
  EXPECT_EQ(console.RowUtf8(13),
            std::string(28, ' ') + "║" + std::string(22, ' ') + "║");
  EXPECT_EQ(console.RowUtf8(14),
            std::string(28, ' ') + "║ Prema unha tecla     ║");
  EXPECT_EQ(console.RowUtf8(15),
            std::string(28, ' ') + "╚══════════════════════╝");
  EXPECT_EQ(console.ColourAt(11, 30), 0x1F);
  EXPECT_TRUE(console.cursor_visible());

  // A failure is red, and a resize while it waits draws it again.
  console.Reset();
  console.PushResize(40, 140);
  console.PushKey(13);
  ShowMessage(console, {"failed"}, "key", true);
  EXPECT_EQ(console.RowUtf8(18), std::string(65, ' ') + "╔════════╗");
  EXPECT_EQ(console.ColourAt(19, 66), 0x4F);
}

}  // namespace
}  // namespace tarnevos::kelprint
