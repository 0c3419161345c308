#include "kelprint/preview.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelprint/texts.h"
#include "platform/console/memory_console.h"

namespace tarnevos::kelprint {
namespace {

using platform::InputEvent;
using platform::MemoryConsole;

constexpr int kPgDn = 0x5100, kPgUp = 0x4900, kHome = 0x4700, kEnd = 0x4F00,
              kUp = 0x4800, kDown = 0x5000, kLeft = 0x4B00, kRight = 0x4D00;

InputEvent Extended(int code) {
  InputEvent event;
  event.kind = InputEvent::Kind::kKey;
  event.extended = true;
  event.key = code;
  return event;
}

InputEvent Key(int code) {
  InputEvent event;
  event.kind = InputEvent::Kind::kKey;
  event.key = code;
  return event;
}

// Three pages of 66 lines; every line names its page and line at column 1
// and carries a mark at column 130, past an 80-column screen.
std::string ThreePages() {
  std::string bytes = "DEVICE\r\n";
  for (int p = 1; p <= 3; ++p) {
    bytes += "PAGE 66 \r\n";
    for (int l = 1; l <= 66; ++l) {
      std::string id = "p" + std::to_string(p) + "l" + std::to_string(l);
      bytes += " 1 ," + id + ", 0 \r\n 130 ,R" + id + ", 1 \r\n";
    }
  }
  return bytes;
}

class PreviewTest : public ::testing::Test {
 protected:
  PreviewTest() : document_(ReadPrintFile(ThreePages())) {}
  std::string Row(int row) const { return console_.RowUtf8(row); }

  PrintDocument document_;
  MemoryConsole console_;
};

TEST_F(PreviewTest, ShowsThePageTopLeftWithAStatusLine) {
  Preview preview(document_, console_, "", Language::kCatalan);
  preview.Draw();
  EXPECT_EQ(Row(1), "p1l1");
  EXPECT_EQ(Row(24), "p1l24");
  EXPECT_NE(Row(25).find("Pàgina 1/3"), std::string::npos) << Row(25);
  EXPECT_NE(Row(25).find("Esc"), std::string::npos);
  EXPECT_EQ(console_.ColourAt(1, 1), 0x70);   // paper
  EXPECT_EQ(console_.ColourAt(25, 1), 0x1F);  // status
}

TEST_F(PreviewTest, KeysPageScrollAndScrollSideways) {
  struct Step {
    InputEvent event;
    int page, top, left;
    const char* first_row;  // screen row 1 afterwards; nullptr: not checked
  };
  static const std::string right_edge = std::string(74, ' ') + "Rp1l1";
  const char* kRightEdge = right_edge.c_str();
  const std::vector<Step> steps = {
      {Extended(kRight), 0, 0, 10, ""},
      {Extended(kRight), 0, 0, 20, nullptr},
      {Extended(kRight), 0, 0, 30, nullptr},
      {Extended(kRight), 0, 0, 40, nullptr},
      {Extended(kRight), 0, 0, 50, nullptr},
      {Extended(kRight), 0, 0, 55, kRightEdge},  // the paper's last column
      {Extended(kRight), 0, 0, 55, kRightEdge},
      {Extended(kLeft), 0, 0, 45, ""},
      {Extended(kPgDn), 1, 0, 45, nullptr},
      {Extended(kDown), 1, 1, 45, nullptr},
      {Extended(kEnd), 2, 0, 45, nullptr},
      {Extended(kPgDn), 2, 0, 45, nullptr},  // no page after the last
      {Key(' '), 2, 0, 45, nullptr},
      {Extended(kUp), 1, 42, 45, nullptr},  // the previous page's bottom
      {Extended(kHome), 0, 0, 45, nullptr},
      {Extended(kPgUp), 0, 0, 45, nullptr},
      {Extended(kLeft), 0, 0, 35, nullptr},
      {Extended(kLeft), 0, 0, 25, nullptr},
      {Extended(kLeft), 0, 0, 15, nullptr},
      {Extended(kLeft), 0, 0, 5, nullptr},
      {Extended(kLeft), 0, 0, 0, "p1l1"},
  };
  Preview preview(document_, console_, "", Language::kCatalan);
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    EXPECT_TRUE(preview.HandleEvent(steps[i].event));
    preview.Draw();
    EXPECT_EQ(preview.page(), steps[i].page);
    EXPECT_EQ(preview.top(), steps[i].top);
    EXPECT_EQ(preview.left(), steps[i].left);
    if (steps[i].first_row != nullptr) {
      EXPECT_EQ(Row(1), steps[i].first_row);
    }
    std::string status = "Pàgina " + std::to_string(steps[i].page + 1) + "/3";
    EXPECT_NE(Row(25).find(status), std::string::npos) << Row(25);
    EXPECT_NE(Row(25).find("Col " + std::to_string(steps[i].left + 1)),
              std::string::npos)
        << Row(25);
  }
}

TEST_F(PreviewTest, LinesScrollWithinAndAcrossPages) {
  Preview preview(document_, console_, "", Language::kCatalan);
  for (int i = 0; i < 42; ++i) preview.HandleEvent(Extended(kDown));
  preview.Draw();
  EXPECT_EQ(preview.top(), 42);
  EXPECT_EQ(Row(1), "p1l43");
  EXPECT_EQ(Row(24), "p1l66");  // the page's last line at the bottom
  preview.HandleEvent(Extended(kDown));
  preview.Draw();
  EXPECT_EQ(preview.page(), 1);
  EXPECT_EQ(Row(1), "p2l1");
  preview.HandleEvent(Extended(kUp));
  preview.Draw();
  EXPECT_EQ(Row(24), "p1l66");
}

TEST_F(PreviewTest, EscAndQLeaveAndRunEndsOnThem) {
  Preview preview(document_, console_, "", Language::kCatalan);
  EXPECT_FALSE(preview.HandleEvent(Key(27)));
  EXPECT_FALSE(preview.HandleEvent(Key('q')));
  EXPECT_TRUE(preview.HandleEvent(Key('x')));
  InputEvent click;
  click.kind = InputEvent::Kind::kMouse;
  EXPECT_TRUE(preview.HandleEvent(click));

  console_.PushExtended(kPgDn);
  console_.PushExtended(kRight);
  console_.PushKey('q');
  console_.PushKey(27);  // never read
  preview.Run();
  EXPECT_EQ(console_.PendingEvents(), 1u);
  EXPECT_EQ(console_.ExhaustedWaits(), 0);
  EXPECT_EQ(preview.page(), 1);
  EXPECT_EQ(Row(1), "");  // p2l1 is scrolled off to the left
  EXPECT_NE(Row(25).find("Pàgina 2/3"), std::string::npos);
  EXPECT_TRUE(console_.cursor_visible());
}

TEST_F(PreviewTest, NoticeTakesTheLineAboveTheStatus) {
  Preview preview(document_, console_, "line 7: unknown command",
                  Language::kCatalan);
  preview.Draw();
  EXPECT_NE(Row(24).find("line 7: unknown command"), std::string::npos);
  EXPECT_EQ(console_.ColourAt(24, 1), 0x4E);
  EXPECT_EQ(Row(23), "p1l23");
  for (int i = 0; i < 200; ++i) preview.HandleEvent(Extended(kDown));
  preview.Draw();
  // Fewer page rows on screen: the last top line is one further down.
  EXPECT_EQ(preview.page(), 2);
  EXPECT_EQ(preview.top(), 43);
  EXPECT_EQ(Row(23), "p3l66");
}

TEST(PreviewEdgeTest, ShortPagesNarrowScreensAndNoPages) {
  MemoryConsole console(25, 80);
  PrintDocument empty = ReadPrintFile("");
  Preview none(empty, console, "", Language::kCatalan);
  none.Draw();
  EXPECT_NE(console.Dump().find("no té cap pàgina"), std::string::npos);
  EXPECT_NE(console.RowUtf8(25).find("Pàgina 0/0"), std::string::npos);
  for (int code : {kPgDn, kPgUp, kHome, kEnd, kUp, kDown, kLeft, kRight}) {
    EXPECT_TRUE(none.HandleEvent(Extended(code)));
    none.Draw();
  }
  EXPECT_EQ(none.page(), 0);

  // A page of 5 lines: the rows below it are off the paper; italics show in
  // their own colour.
  PrintDocument small = ReadPrintFile(
      "DEVICE\r\nPAGE 5 \r\n*i\r\n 1 ,it, 0 \r\n*i\r\n 0 ,n, 0 \r\n");
  Preview preview(small, console, "", Language::kCatalan);
  preview.Draw();
  EXPECT_EQ(console.RowUtf8(1), "itn");
  EXPECT_EQ(console.ColourAt(1, 1), 0x71);
  EXPECT_EQ(console.ColourAt(1, 3), 0x70);
  EXPECT_EQ(console.ColourAt(5, 1), 0x70);
  EXPECT_EQ(console.ColourAt(6, 1), 0x08);
  EXPECT_TRUE(preview.HandleEvent(Extended(kDown)));
  EXPECT_EQ(preview.top(), 0);

  // A screen wider than the paper: nothing to scroll sideways, the rest of
  // the row is off the paper.
  MemoryConsole wide(10, 150);
  Preview wide_preview(small, wide, "", Language::kCatalan);
  wide_preview.HandleEvent(Extended(kRight));
  wide_preview.Draw();
  EXPECT_EQ(wide_preview.left(), 0);
  EXPECT_EQ(wide.ColourAt(1, 135), 0x70);
  EXPECT_EQ(wide.ColourAt(1, 136), 0x08);
}

TEST_F(PreviewTest, TextsAreInTheSessionsLanguage) {
  struct Case {
    Language language;
    const char* status;  // UTF-8
    const char* keys;
    const char* no_pages;
    const char* problem;
  };
  const Case cases[] = {
      {Language::kCatalan, "Pàgina 1/3  Línia 1  Col 1", "Esc surt",
       "El fitxer d'impressió no té cap pàgina.",
       "línia 7: ordre desconeguda (2 problemes més)"},
      {Language::kSpanish, "Página 1/3  Línea 1  Col 1", "Esc sale",
       "El fichero de impresión no contiene ninguna página.",
       "línea 7: orden desconocida (2 problemas más)"},
      {Language::kGalician, "Páxina 1/3  Liña 1  Col 1", "Esc sae",
       "O ficheiro de impresión non contén ningunha páxina.",
       "liña 7: orde descoñecida (2 problemas máis)"},
      {Language::kAranese, "Pagina 1/3  Linha 1  Col 1", "Esc sortís",
       "Er arxiu d'impression non a cap de pagina.",
       "linha 7: òrdre desconeishut (2 problèmes mès)"},
  };
  const Problem problem{7, ProblemKind::kUnknownCommand, 0, "unknown command"};
  const PrintDocument empty = ReadPrintFile("");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    MemoryConsole console;
    Preview preview(document_, console, ProblemText(c.language, problem, 3),
                    c.language);
    preview.Draw();
    const std::string status = console.RowUtf8(25);
    EXPECT_EQ(status.find(c.status), 1u) << status;
    // The whole key help fits an 80-column screen.
    EXPECT_EQ(status.size() - status.rfind(c.keys), std::string(c.keys).size())
        << status;
    EXPECT_EQ(console.RowUtf8(24), std::string(" ") + c.problem);

    Preview none(empty, console, "", c.language);
    none.Draw();
    EXPECT_EQ(console.RowUtf8(1), std::string(" ") + c.no_pages);
  }
}

TEST_F(PreviewTest, FollowsTheWindowWhenItChangesSize) {
  Preview preview(document_, console_, "", Language::kSpanish);
  for (int i = 0; i < 42; ++i) preview.HandleEvent(Extended(kDown));
  preview.HandleEvent(Extended(kRight));
  preview.Draw();
  EXPECT_EQ(preview.top(), 42);
  EXPECT_FALSE(preview.FollowResize());

  // 140 x 40: the whole width of the page and 39 of its lines; the view
  // keeps its page and moves up only as far as the larger window needs.
  console_.PushResize(40, 140);
  console_.PushKey('q');
  preview.Run();
  EXPECT_EQ(preview.page(), 0);
  EXPECT_EQ(preview.top(), 66 - 39);
  EXPECT_EQ(preview.left(), 0);
  EXPECT_EQ(Row(1), "p1l28" + std::string(124, ' ') + "Rp1l28");
  EXPECT_EQ(Row(39).substr(0, 5), "p1l66");
  EXPECT_EQ(console_.ColourAt(39, 136), 0x08);  // beyond the paper
  EXPECT_NE(Row(40).find("Página 1/3  Línea 28  Col 1"), std::string::npos)
      << Row(40);

  // Scrolling goes on at the new size.
  preview.HandleEvent(Extended(kUp));
  preview.Draw();
  EXPECT_EQ(Row(1).substr(0, 5), "p1l27");
  preview.HandleEvent(Extended(kPgDn));
  preview.Draw();
  EXPECT_EQ(Row(39).substr(0, 5), "p2l39");

  // Smaller again: the status line follows the bottom row.
  console_.Resize(25, 80);
  EXPECT_TRUE(preview.FollowResize());
  EXPECT_NE(Row(25).find("Página 2/3"), std::string::npos) << Row(25);
  EXPECT_EQ(Row(24), "p2l24");
}

}  // namespace
}  // namespace tarnevos::kelprint
