#include "kelprint/pdf_renderer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kelprint/paper.h"
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

TEST(PdfRendererTest, SheetCentresTheGridWithTheLargestType) {
  struct Case {
    const char* paper;
    int columns, lines;
    bool landscape;
  };
  const std::vector<Case> cases = {
      {"a4", 135, 66, true},     {"a4", 80, 66, false},
      {"a4", 300, 66, true},     {"a4", 135, 200, false},
      {"a4", 0, 0, false},       {"a4", 1, 1000, false},
      {"letter", 135, 66, true}, {"letter", 80, 66, false},
      {"ledger", 135, 66, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.paper) + " " + std::to_string(c.columns) + "x" +
                 std::to_string(c.lines));
    const Paper paper = *PaperByName(c.paper);
    SheetLayout layout = FitSheet(c.columns, c.lines, 0.602, paper);
    EXPECT_EQ(layout.landscape, c.landscape);
    EXPECT_NEAR(std::max(layout.width, layout.height),
                std::max(paper.width, paper.height), 1e-9);
    EXPECT_GT(layout.font_size, 0);
    const int columns = std::max(c.columns, 1), lines = std::max(c.lines, 1);
    // Centred: opposite margins equal, none narrower than 10 mm, and the
    // type as large as those margins allow (one pair of margins is 10 mm).
    const double right = layout.width - layout.left - columns * layout.pitch;
    const double bottom = layout.height - layout.top - lines * layout.line;
    EXPECT_NEAR(layout.left, right, 1e-6);
    EXPECT_NEAR(layout.top, bottom, 1e-6);
    EXPECT_GE(std::min(layout.left, layout.top), kMinMargin - 1e-6);
    EXPECT_NEAR(std::min(layout.left, layout.top), kMinMargin, 1e-6);
    EXPECT_NEAR(kMinMargin, 72 / 25.4 * 10, 1e-9);
    EXPECT_NEAR(layout.pitch, layout.font_size * 0.602, 1e-9);
    EXPECT_GE(layout.line, layout.font_size);  // lines never overlap
  }
  // The report's page is legible: above 7 points on A4 and Letter.
  EXPECT_GT(FitSheet(135, 66, 0.602, *PaperByName("a4")).font_size, 7.0);
  EXPECT_GT(FitSheet(135, 66, 0.602, *PaperByName("letter")).font_size, 7.5);
}

TEST(PdfRendererTest, DatesAreWrittenInUtc) {
  EXPECT_EQ(PdfDate(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(PdfDate(1793404800), "2026-10-31T00:00:00Z");
  EXPECT_EQ(PdfDate(-62135596800LL), "0001-01-01T00:00:00Z");
  EXPECT_EQ(PdfDate(253402300799LL), "9999-12-31T23:59:59Z");
  EXPECT_EQ(PdfDate(253402300800LL), "");
  EXPECT_EQ(PdfDate(-62135596801LL), "");
}

TEST(PdfRendererTest, PdfHoldsTheSameTextsAtTheSamePlaces) {
  if (!HavePdfToText()) GTEST_SKIP() << "pdftotext is not installed";
  testing::ScratchDir scratch;
  PrintDocument document = ReadPrintFile(SampleBytes());
  ASSERT_EQ(document.pages.size(), 3u);
  std::string pdf = scratch.path() + "sample.pdf";
  std::string error;
  int system_error = 0;
  ASSERT_TRUE(RenderPdfFile(document, PdfSettings{}, pdf, error, system_error))
      << error;
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
      ReadPrintFile(bytes), PdfSettings{},
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
      document, PdfSettings{},
      [](const unsigned char*, size_t) { return false; }, error));
  EXPECT_FALSE(error.empty());

  error.clear();
  int system_error = 0;
  EXPECT_FALSE(RenderPdfFile(document, PdfSettings{}, "/nonexistent-dir/x.pdf",
                             error, system_error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  EXPECT_EQ(system_error, ENOENT);

  if (::access("/dev/full", W_OK) == 0) {
    error.clear();
    EXPECT_FALSE(RenderPdfFile(document, PdfSettings{}, "/dev/full", error,
                               system_error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(system_error, ENOSPC);
  }
}

TEST(PdfRendererTest, EmptyDocumentGivesOneBlankSheet) {
  if (!HavePdfToText()) GTEST_SKIP() << "pdftotext is not installed";
  testing::ScratchDir scratch;
  std::string pdf = scratch.path() + "empty.pdf";
  std::string error;
  int system_error = 0;
  ASSERT_TRUE(
      RenderPdfFile(ReadPrintFile(""), PdfSettings{}, pdf, error, system_error))
      << error;
  std::vector<std::string> pages = PdfPagesAsText(pdf, scratch.path());
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(Normalised(pages[0]).empty());
}

// The output of a command, or "" when it fails.
std::string CommandOutput(const std::string& command) {
  std::string out;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    out.append(buffer, got);
  }
  return ::pclose(pipe) == 0 ? out : "";
}

std::string Render(const PrintDocument& document, const PdfSettings& settings) {
  std::string pdf;
  std::string error;
  EXPECT_TRUE(RenderPdf(
      document, settings,
      [&](const unsigned char* data, size_t size) {
        pdf.append(reinterpret_cast<const char*>(data), size);
        return true;
      },
      error))
      << error;
  return pdf;
}

TEST(PdfRendererTest, SameDocumentAndSettingsGiveTheSameBytes) {
  PrintDocument document = ReadPrintFile(SampleBytes());
  PdfSettings settings;
  settings.title = "RESUM DE LIQUIDACIÓ";
  settings.creator = "KELPRINT 9.9";
  settings.date = PdfDate(1793404800);
  const std::string first = Render(document, settings);
  ::usleep(1100 * 1000);  // across a second: cairo's own clock is not used
  EXPECT_EQ(Render(document, settings), first);
  settings.date = PdfDate(1793404801);
  EXPECT_NE(Render(document, settings), first);

  if (std::system("command -v pdfinfo >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "pdfinfo is not installed";
  }
  testing::ScratchDir scratch;
  settings.date = PdfDate(1793404800);
  settings.paper = *PaperByName("letter");
  std::ofstream(scratch.path() + "doc.pdf", std::ios::binary)
      << Render(document, settings);
  const std::string info =
      CommandOutput("TZ=UTC pdfinfo '" + scratch.path() + "doc.pdf'");
  EXPECT_NE(info.find("Title:           RESUM DE LIQUIDACIÓ\n"),
            std::string::npos)
      << info;
  EXPECT_NE(info.find("Creator:         KELPRINT 9.9\n"), std::string::npos);
  EXPECT_NE(info.find("CreationDate:    Sat Oct 31 00:00:00 2026 UTC"),
            std::string::npos);
  EXPECT_NE(info.find("ModDate:         Sat Oct 31 00:00:00 2026 UTC"),
            std::string::npos);
  EXPECT_NE(info.find("792 x 612 pts (letter)"), std::string::npos);
  // The dates carry the "D:" of PDF dates, and every cross-reference still
  // points at its object.
  const std::string pdf = ReadFile(scratch.path() + "doc.pdf");
  EXPECT_NE(pdf.find("/CreationDate (D:20261031000000Z)"), std::string::npos);
  EXPECT_NE(pdf.find("/ModDate (D:20261031000000Z)"), std::string::npos);
  const size_t startxref = pdf.rfind("startxref\n");
  ASSERT_NE(startxref, std::string::npos);
  const size_t xref = std::stoul(pdf.substr(startxref + 10));
  ASSERT_EQ(pdf.compare(xref, 7, "xref\n0 "), 0);
  const size_t count = std::stoul(pdf.substr(xref + 7));
  size_t entry = pdf.find('\n', xref + 7) + 1;
  for (size_t object = 0; object < count; ++object, entry += 20) {
    if (pdf[entry + 17] != 'n') continue;
    const size_t at = std::stoul(pdf.substr(entry, 10));
    EXPECT_EQ(pdf.compare(at, std::to_string(object).size() + 6,
                          std::to_string(object) + " 0 obj"),
              0)
        << "object " << object;
  }
  if (std::system("command -v qpdf >/dev/null 2>&1") == 0) {
    EXPECT_NE(CommandOutput("qpdf --check '" + scratch.path() + "doc.pdf'")
                  .find("No syntax or stream encoding errors"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace tarnevos::kelprint

// fontconfig loses a few blocks, once, the first time it resolves a face;
// that is the library's, not the renderer's.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
