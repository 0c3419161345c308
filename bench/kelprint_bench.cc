// The print file of a large settlement run, 1,000 pages of 66 lines of 135
// columns laid out as the report lays them out, written through the print
// operations, then read and rendered to text and to PDF by the print
// program.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "kelprint/pdf_renderer.h"
#include "kelprint/print_document.h"
#include "kelprint/text_renderer.h"
#include "print/print_file.h"
#include "settings/session.h"

namespace {

constexpr int kPages = 1000;
constexpr int kUnitLinesPerPage = 56;

std::string Figure(long value) {
  char text[16];
  std::snprintf(text, sizeof text, "%10ld", value);
  return text;
}

// One report page: header, column headings and unit lines.
void WritePage(int page) {
  using namespace tarnevos;
  PrintPage(66);
  PrintControl("@e");
  PrintText(85, "PÀGINA " + std::to_string(page), 9);
  PrintText(1, "COMUNITAT DE PROPIETARIS DEL CARRER MAJOR 12", 2);
  PrintControl("q");
  PrintText(16, "    RÒSSEC", 0);
  PrintText(106, "     TOTAL", 0);
  PrintText(117, "     TOTAL", 0);
  PrintText(127, "    RÒSSEC", 1);
  PrintText(1, "COD", 0);
  PrintText(5, "DEPART.", 0);
  for (int k = 1; k <= 7; ++k) {
    PrintText(static_cast<int16_t>(10 * k + 21),
              std::string("< ") + static_cast<char>('A' + k - 1) + " >", 0);
  }
  PrintText(126, "    ACTUAL", 1);
  PrintText(1, std::string(135, '-'), 1);
  for (int unit = 0; unit < kUnitLinesPerPage; ++unit) {
    char code[8];
    std::snprintf(code, sizeof code, "%03d", unit + 1);
    PrintText(1, std::string(code) + " PIS " + std::to_string(unit) + "A     ",
              0);
    for (int slot = 0; slot < 11; ++slot) {
      PrintText(0, Figure((page * 7919L + unit * 104729L + slot) % 9999999), 0);
    }
    PrintText(0, Figure(unit * 1234L - 5000), 1);
  }
}

const std::string& PrintDirectory() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/kelprint-bench-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    std::string path = std::string(made == nullptr ? "/tmp" : made) + "/";
    ::setenv("KELTMP", path.c_str(), 1);
    tarnevos::LoadSessionEnvironment();
    return path;
  }();
  return dir;
}

void WriteReport() {
  PrintDirectory();
  tarnevos::OpenPrintFile("PDF");
  for (int page = 1; page <= kPages; ++page) WritePage(page);
  tarnevos::ClosePrintFile();
}

const std::string& ReportBytes() {
  static const std::string bytes = [] {
    WriteReport();
    std::ifstream in(PrintDirectory() + "kelprint.tmp", std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
  }();
  return bytes;
}

const tarnevos::kelprint::PrintDocument& ReportDocument() {
  static const tarnevos::kelprint::PrintDocument document =
      tarnevos::kelprint::ReadPrintFile(ReportBytes());
  return document;
}

// As the print program renders a report: A4, title, creator and a date.
tarnevos::kelprint::PdfSettings Settings() {
  tarnevos::kelprint::PdfSettings settings;
  settings.title = "COMUNITAT DE PROPIETARIS DEL CARRER MAJOR 12";
  settings.creator = "KELPRINT";
  settings.date = tarnevos::kelprint::PdfDate(1793404800);
  return settings;
}

void PagesPerSecond(benchmark::State& state, size_t bytes) {
  state.counters["pages/s"] =
      benchmark::Counter(static_cast<double>(kPages),
                         benchmark::Counter::kIsIterationInvariantRate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes));
}

void BM_WritePrintFile(benchmark::State& state) {
  for (auto _ : state) WriteReport();
  PagesPerSecond(state, ReportBytes().size());
}
BENCHMARK(BM_WritePrintFile)->Unit(benchmark::kMillisecond);

void BM_ReadPrintFile(benchmark::State& state) {
  const std::string& bytes = ReportBytes();
  for (auto _ : state) {
    auto document = tarnevos::kelprint::ReadPrintFile(bytes);
    benchmark::DoNotOptimize(document.pages.data());
  }
  PagesPerSecond(state, bytes.size());
}
BENCHMARK(BM_ReadPrintFile)->Unit(benchmark::kMillisecond);

void BM_RenderText(benchmark::State& state) {
  const auto& document = ReportDocument();
  size_t size = 0;
  for (auto _ : state) {
    std::string text = tarnevos::kelprint::RenderText(document);
    size = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  PagesPerSecond(state, size);
}
BENCHMARK(BM_RenderText)->Unit(benchmark::kMillisecond);

void BM_RenderPdf(benchmark::State& state) {
  const auto& document = ReportDocument();
  size_t size = 0;
  for (auto _ : state) {
    size = 0;
    std::string error;
    bool ok = tarnevos::kelprint::RenderPdf(
        document, Settings(),
        [&](const unsigned char*, size_t length) {
          size += length;
          return true;
        },
        error);
    if (!ok) state.SkipWithError(error.c_str());
  }
  state.counters["pdf_bytes"] = static_cast<double>(size);
  PagesPerSecond(state, size);
}
BENCHMARK(BM_RenderPdf)->Unit(benchmark::kMillisecond);

void BM_RenderPdfFile(benchmark::State& state) {
  const auto& document = ReportDocument();
  std::string path = PrintDirectory() + "kelprint.pdf";
  for (auto _ : state) {
    std::string error;
    int system_error = 0;
    if (!tarnevos::kelprint::RenderPdfFile(document, Settings(), path, error,
                                           system_error)) {
      state.SkipWithError(error.c_str());
    }
  }
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  PagesPerSecond(state, static_cast<size_t>(in.tellg()));
}
BENCHMARK(BM_RenderPdfFile)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const char* name : {"kelprint.tmp", "kelprint.pdf"}) {
    std::remove((PrintDirectory() + name).c_str());
  }
  ::rmdir(PrintDirectory().c_str());
  return 0;
}
