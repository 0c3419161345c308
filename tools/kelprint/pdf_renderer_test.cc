#include "kelprint/pdf_renderer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kelprint/print_document.h"
#include "kelprint/text_renderer.h"
#include "support/scratch.h"

namespace tarnevos::kelprint {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

bool HavePdfToText() {
  return std::system("command -v pdftotext >/dev/null 2>&1") == 0;
}

// pdftotext -layout of a PDF file, one string per page.
std::vector<std::string> PdfPagesAsText(const std::string& pdf,
                                        const std::string& scratch) {
  std::string out = scratch + "layout.txt";
  std::string command =
      "pdftotext -layout -enc UTF-8 '" + pdf + "' '" + out + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::string text = ReadFile(out);
  std::vector<std::string> pages;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\f', start);
    if (end == std::string::npos) end = text.size();
    pages.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pages;
}

// The non-blank lines of a page, with the indentation they all share
// removed, so that texts can be compared by their places relative to each
// other whatever margin the extraction adds.
std::vector<std::string> Normalised(const std::string& page) {
  std::vector<std::string> lines;
  std::istringstream in(page);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  size_t indent = std::string::npos;
  for (const std::string& l : lines) {
    indent = std::min(indent, l.find_first_not_of(' '));
  }
  for (std::string& l : lines) l.erase(0, indent);
  return lines;
}

std::string SampleBytes() {
  return ReadFile(testing::SourceDir() + "/tools/kelprint/testdata/sample.tmp");
}

TEST(PdfRendererTest, SheetFitsTheGridWithTheLargestType) {
  struct Case {
    int columns, lines;
    bool landscape;
  };
  const std::vector<Case> cases = {{135, 66, true}, {80, 66, false},
                                   {300, 66, true}, {135, 200, false},
                                   {0, 0, false},   {1, 1000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.columns) + "x" + std::to_string(c.lines));
    SheetLayout layout = FitSheet(c.columns, c.lines, 0.602);
    EXPECT_EQ(layout.landscape, c.landscape);
    EXPECT_GT(layout.font_size, 0);
    int columns = std::max(c.columns, 1), lines = std::max(c.lines, 1);
    EXPECT_GE(layout.left, 0);
    EXPECT_LE(layout.left + columns * layout.pitch, layout.width + 1e-6);
    EXPECT_LE(layout.top + lines * layout.line, layout.height + 1e-6);
    EXPECT_GE(layout.line, layout.font_size);  // lines never overlap
  }
  // The report's page is legible: above 7 points on A4 landscape.
  EXPECT_GT(FitSheet(135, 66, 0.602).font_size, 7.0);
}

TEST(PdfRendererTest, PdfHoldsTheSameTextsAtTheSamePlaces) {
  if (!HavePdfToText()) GTEST_SKIP() << "pdftotext is not installed";
  testing::ScratchDir scratch;
  PrintDocument document = ReadPrintFile(SampleBytes());
  ASSERT_EQ(document.pages.size(), 3u);
  std::string pdf = scratch.path() + "sample.pdf";
  std::string error;
  ASSERT_TRUE(RenderPdfFile(document, pdf, error)) << error;
  EXPECT_EQ(ReadFile(pdf).substr(0, 5), "%PDF-");

  std::vector<std::string> expected_pages;
  std::string text = RenderText(document);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\f', start);
    if (end == std::string::npos) end = text.size();
    expected_pages.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::string> pages = PdfPagesAsText(pdf, scratch.path());
  ASSERT_EQ(pages.size(), 3u);
  for (size_t p = 0; p < pages.size(); ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    EXPECT_EQ(Normalised(pages[p]), Normalised(expected_pages[p])) << pages[p];
  }
}

TEST(PdfRendererTest, OneSheetPerPageAndItalicsUseTheObliqueFace) {
  std::string bytes = "DEVICEPDF\r\n";
  for (int p = 0; p < 7; ++p) {
    bytes += "PAGE 66 \r\n 1 ,page " + std::to_string(p + 1) + ", 1 \r\n";
  }
  bytes += "*i\r\n 1 ,slanted, 1 \r\n";
  std::string pdf;
  std::string error;
  ASSERT_TRUE(RenderPdf(
      ReadPrintFile(bytes),
      [&](const unsigned char* data, size_t size) {
        pdf.append(reinterpret_cast<const char*>(data), size);
        return true;
      },
      error))
      << error;
  size_t sheets = 0;
  for (size_t at = pdf.find("/Type /Page\n"); at != std::string::npos;
       at = pdf.find("/Type /Page\n", at + 1)) {
    ++sheets;
  }
  size_t sheets_alt = 0;
  for (size_t at = pdf.find("/Type /Page"); at != std::string::npos;
       at = pdf.find("/Type /Page", at + 1)) {
    if (pdf.compare(at, 12, "/Type /Pages") != 0) ++sheets_alt;
  }
  EXPECT_EQ(std::max(sheets, sheets_alt), 7u);
  EXPECT_NE(pdf.find("Oblique"), std::string::npos);
  EXPECT_NE(pdf.find("DejaVuSansMono"), std::string::npos);
}

TEST(PdfRendererTest, FailuresAreReported) {
  PrintDocument document = ReadPrintFile("DEVICE\r\n 1 ,x, 0 \r\n");
  std::string error;
  EXPECT_FALSE(RenderPdf(
      document, [](const unsigned char*, size_t) { return false; }, error));
  EXPECT_FALSE(error.empty());

  error.clear();
  EXPECT_FALSE(RenderPdfFile(document, "/nonexistent-dir/x.pdf", error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;

  if (::access("/dev/full", W_OK) == 0) {
    error.clear();
    EXPECT_FALSE(RenderPdfFile(document, "/dev/full", error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(PdfRendererTest, EmptyDocumentGivesOneBlankSheet) {
  if (!HavePdfToText()) GTEST_SKIP() << "pdftotext is not installed";
  testing::ScratchDir scratch;
  std::string pdf = scratch.path() + "empty.pdf";
  std::string error;
  ASSERT_TRUE(RenderPdfFile(ReadPrintFile(""), pdf, error)) << error;
  std::vector<std::string> pages = PdfPagesAsText(pdf, scratch.path());
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(Normalised(pages[0]).empty());
}

}  // namespace
}  // namespace tarnevos::kelprint

// fontconfig loses a few blocks, once, the first time it resolves a face;
// that is the library's, not the renderer's.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
