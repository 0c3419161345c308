#include "print/pdf_document.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/pdf_tools.h"
#include "support/scratch.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class PdfDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string regular =
        ReadBytes("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    const std::string bold =
        ReadBytes("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");
    if (regular.empty() || bold.empty()) GTEST_SKIP() << "no DejaVu fonts";
    std::string error;
    ASSERT_TRUE(fonts_.Load(regular, bold, error)) << error;
  }

  PdfContent Page(const std::string& utf8) const {
    PdfPage page(fonts_);
    page.Text(PdfFace::kBold, 14, 56, 780, Cp850(utf8));
    page.TextRight(PdfFace::kRegular, 9, 539, 760, Cp850("1.234,56"));
    page.Rule(56, 750, 539, 750, 0.5);
    page.Shade(56, 700, 483, 20, 0.9);
    // Controls are left out; parentheses and backslashes need no escape.
    page.Text(PdfFace::kRegular, 9, 56, 705, Cp850("a(b)\\c\td"));
    return CompressPage(page);
  }

  // Two communities of two and one pages, in sections; or the same pages
  // on one level.
  std::string Document(bool sections) const {
    std::string bytes;
    PdfInfo info{Cp850("Extractes · prova"), "D:20261130000000Z"};
    PdfWriter writer(fonts_, info, [&bytes](std::string_view chunk) {
      bytes.append(chunk);
      return true;
    });
    if (sections) writer.BeginSection(Cp850("(1) Comunitat Ñandú"));
    writer.AddPage(Page("Pàgina u"), Cp850("001 1r 1a - Joan Garcia"));
    writer.AddPage(Page("Pàgina dos"), Cp850("002 1r 2a - Maria Puig"));
    if (sections) writer.BeginSection(Cp850("(2) Comunitat Lleida"));
    writer.AddPage(Page("Pàgina tres"), Cp850("001 Baixos - Pere Roca"));
    EXPECT_TRUE(writer.Finish());
    EXPECT_EQ(writer.page_count(), 3);
    return bytes;
  }

  PdfFonts fonts_;
  testing::ScratchDir dir_;
};

// What Debian's tools read back: a sound file, the texts with their
// accents, the outline with its two levels pointing at the right pages.
TEST_F(PdfDocumentTest, ToolsReadTextAndOutlineBack) {
  if (!testing::HaveTool("qpdf") || !testing::HaveTool("pdftotext"))
    GTEST_SKIP() << "qpdf and pdftotext are needed";
  const std::string path = dir_.path() + "sections.pdf";
  dir_.Write("sections.pdf", Document(true));
  std::string report;
  EXPECT_TRUE(testing::QpdfCheck(path, report)) << report;
  EXPECT_EQ(testing::PdfPageCount(path), 3);

  const std::string text = testing::PdfText(path);
  EXPECT_NE(text.find("Pàgina dos"), std::string::npos) << text;
  EXPECT_NE(text.find("1.234,56"), std::string::npos) << text;
  EXPECT_NE(text.find("a(b)\\cd"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), 3);

  const std::vector<testing::OutlineItem> expected = {
      {0, "(1) Comunitat Ñandú", 1},    {1, "001 1r 1a - Joan Garcia", 1},
      {1, "002 1r 2a - Maria Puig", 2}, {0, "(2) Comunitat Lleida", 3},
      {1, "001 Baixos - Pere Roca", 3},
  };
  EXPECT_EQ(testing::PdfOutline(path), expected);

  dir_.Write("flat.pdf", Document(false));
  EXPECT_TRUE(testing::QpdfCheck(dir_.path() + "flat.pdf", report)) << report;
  const std::vector<testing::OutlineItem> flat = {
      {0, "001 1r 1a - Joan Garcia", 1},
      {0, "002 1r 2a - Maria Puig", 2},
      {0, "001 Baixos - Pere Roca", 3},
  };
  EXPECT_EQ(testing::PdfOutline(dir_.path() + "flat.pdf"), flat);
}

// The same calls give the same bytes; a different page gives others.
TEST_F(PdfDocumentTest, SameCallsSameBytes) {
  const std::string first = Document(true);
  EXPECT_EQ(Document(true), first);
  EXPECT_NE(Document(false), first);
  EXPECT_EQ(first.find("CreationDate (D:20261130000000Z)") == std::string::npos,
            false);
  EXPECT_EQ(first.find("ModDate"), std::string::npos);
}

// A sink that stops taking bytes fails the document, and nothing more is
// offered to it.
TEST_F(PdfDocumentTest, RefusedBytesFailTheDocument) {
  size_t offered = 0;
  int calls_after_refusal = 0;
  bool refused = false;
  PdfWriter writer(fonts_, PdfInfo{}, [&](std::string_view chunk) {
    if (refused) ++calls_after_refusal;
    offered += chunk.size();
    refused = offered > 70000;
    return !refused;
  });
  for (int i = 0; i < 300; ++i) writer.AddPage(Page("Pàgina"), "u");
  EXPECT_TRUE(writer.failed());
  EXPECT_FALSE(writer.Finish());
  EXPECT_EQ(calls_after_refusal, 0);
}

TEST_F(PdfDocumentTest, WidthsFollowTheFace) {
  // DejaVu Sans: "0" advances 1303 of 2048 units; bold is wider.
  EXPECT_NEAR(fonts_.Width(PdfFace::kRegular, 10, "00"), 12.72, 0.01);
  EXPECT_GT(fonts_.Width(PdfFace::kBold, 10, "00"),
            fonts_.Width(PdfFace::kRegular, 10, "00"));
  EXPECT_EQ(fonts_.Width(PdfFace::kRegular, 10, "\t\n"), 0);
}

}  // namespace
}  // namespace tarnevos
