#ifndef TARNEVOS_TESTS_SUPPORT_PDF_TOOLS_H_
#define TARNEVOS_TESTS_SUPPORT_PDF_TOOLS_H_

#include <string>
#include <vector>

// Debian's PDF tools, run on files the tests wrote: poppler-utils'
// pdftotext and qpdf. Tests skip when a tool is not installed.
namespace tarnevos::testing {

// True when /usr/bin/<name> exists.
bool HaveTool(const std::string& name);

// The text of a PDF laid out as on the page (pdftotext -layout), UTF-8;
// pages separated by form feeds. "" when it cannot be read.
std::string PdfText(const std::string& path);

// qpdf --check: true when it finds nothing wrong; its report in `report`.
bool QpdfCheck(const std::string& path, std::string& report);

// The outline of a PDF as qpdf reads it, depth first: each entry's depth
// (0 for the top level), title (UTF-8) and page (1-based, 0 when none).
struct OutlineItem {
  int depth = 0;
  std::string title;
  int page = 0;
  bool operator==(const OutlineItem&) const = default;
};
std::vector<OutlineItem> PdfOutline(const std::string& path);

// The number of pages (qpdf --show-npages); -1 when it cannot be read.
int PdfPageCount(const std::string& path);

}  // namespace tarnevos::testing

#endif  // TARNEVOS_TESTS_SUPPORT_PDF_TOOLS_H_
