#include "support/pdf_tools.h"

#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <nlohmann/json.hpp>

namespace tarnevos::testing {
namespace {

// Single quotes around a path for the shell.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// Runs a command and collects its standard output; `status` is its exit
// code (-1 when it could not run).
std::string Capture(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    status = -1;
    return output;
  }
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    output.append(buffer, n);
  const int raw = ::pclose(pipe);
  status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

void Flatten(const nlohmann::json& items, int depth,
             std::vector<OutlineItem>& out) {
  if (!items.is_array()) return;
  for (const nlohmann::json& item : items) {
    OutlineItem entry;
    entry.depth = depth;
    if (item.contains("title") && item["title"].is_string())
      entry.title = item["title"].get<std::string>();
    if (item.contains("destpageposfrom1") &&
        item["destpageposfrom1"].is_number())
      entry.page = item["destpageposfrom1"].get<int>();
    out.push_back(entry);
    if (item.contains("kids")) Flatten(item["kids"], depth + 1, out);
  }
}

}  // namespace

bool HaveTool(const std::string& name) {
  return std::filesystem::exists("/usr/bin/" + name);
}

std::string PdfText(const std::string& path) {
  int status = 0;
  std::string text = Capture(
      "pdftotext -layout -enc UTF-8 " + Quoted(path) + " - 2>&1", status);
  return status == 0 ? text : "";
}

bool QpdfCheck(const std::string& path, std::string& report) {
  int status = 0;
  report = Capture("qpdf --check " + Quoted(path) + " 2>&1", status);
  return status == 0 && report.find("No syntax or stream encoding errors") !=
                            std::string::npos;
}

std::vector<OutlineItem> PdfOutline(const std::string& path) {
  int status = 0;
  const std::string json = Capture(
      "qpdf --json --json-key=outlines " + Quoted(path) + " 2>/dev/null",
      status);
  std::vector<OutlineItem> items;
  const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
  if (status == 0 && parsed.is_object() && parsed.contains("outlines"))
    Flatten(parsed["outlines"], 0, items);
  return items;
}

int PdfPageCount(const std::string& path) {
  int status = 0;
  const std::string count =
      Capture("qpdf --show-npages " + Quoted(path) + " 2>/dev/null", status);
  return status == 0 && !count.empty() ? std::atoi(count.c_str()) : -1;
}

}  // namespace tarnevos::testing
