// Whole reports over the demo installation, compared byte for byte with
// print files kept in src/report/testdata/. The data files are loaded from
// demo/root/data.json with the data tool built beside the tests; the
// settings and language files are the demo's, converted as the build lays
// them out. TARNEVOS_UPDATE_GOLDEN=1 writes the print files instead of
// comparing them (review every line before keeping them).

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "console/form_table.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "platform/console/memory_console.h"
#include "platform/system/system.h"
#include "print/print_file.h"
#include "report/report_form.h"
#include "report/settlement.h"
#include "report/settlement_test_data.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

using testing::AsInstalled;
using testing::ReadWhole;

struct GoldenCase {
  const char* name;      // testdata/<name>.prn
  const char* language;  // session language
  bool letterhead;       // false: Membret=N
  const char* from;      // dotted codes as typed in the form
  const char* to;
  int16_t copies;
};

class DemoGoldenTest : public ::testing::TestWithParam<GoldenCase> {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    const char* binary_dir = std::getenv("TARNEVOS_BINARY_DIR");
    const std::string tool =
        std::string(binary_dir == nullptr ? "." : binary_dir) +
        "/tools/keldades/keldades";
    if (!std::filesystem::exists(tool))
      GTEST_SKIP() << "the data tool is not built: " << tool;
    const std::string source = testing::SourceDir() + "/demo/root/";
    const std::string root = dir_.path() + "ROOT/";
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"init", root},
          std::vector<std::string>{"load", root, source + "data.json"}}) {
      const platform::ProgramResult result =
          platform::RunProgram(tool, arguments);
      ASSERT_TRUE(result.started && result.exit_code == 0)
          << tool << " " << arguments[0] << ": " << result.error;
    }
    std::string settings = ReadWhole(source + "Orvo.ini");
    ASSERT_FALSE(settings.empty());
    if (!GetParam().letterhead) {
      const size_t at = settings.find("\nMembret=");
      ASSERT_NE(at, std::string::npos);
      settings.replace(at + 1, settings.find('\n', at + 1) - at - 1,
                       "Membret=N");
    }
    dir_.Write("ROOT/Orvo.ini", AsInstalled(settings));
    dir_.Write("ROOT/LOCALE/TARNEVOS.LNG",
               AsInstalled(ReadWhole(source + "LOCALE/TARNEVOS.LNG")));

    // The session as the driver leaves it before the report loop.
    SessionSettings& session = TEST_MutableSession();
    session.root_dir = root;
    session.tmp_dir = dir_.path();
    session.exe_dir = dir_.path();
    session.language = GetParam().language;
    session.output_target = "PANTALLA";
    SelectCurrency("a,E");
    MutableRun().program_id = "TARNEVOS";
    LoadAdministratorLines();
    LoadFeeSettings();
    platform::TEST_SetProgramRunner(
        [](std::string_view, const std::vector<std::string>&) {
          return platform::ProgramResult{true, 0, ""};
        });
    OpenAllDataFiles();
  }

  void TearDown() override {
    int16_t status = 0;
    CloseAllDataFiles(status);
    testing::ResetRunState();
  }

  testing::ScratchDir dir_;
  testing::ScopedEnv env_{{"KELROOT", dir_.path() + "ROOT/"}};
};

TEST_P(DemoGoldenTest, PrintFileMatches) {
  const GoldenCase& c = GetParam();
  ReportParameters& parameters = Parameters();
  parameters.cutoff_date = PackDigits("20261130");
  parameters.range_from = PackDottedCode(c.from);
  parameters.range_to = PackDottedCode(c.to);
  parameters.copies = c.copies;
  ProduceReport();
  const std::string printed = dir_.Read("kelprint.tmp");
  ASSERT_FALSE(printed.empty());

  const std::string golden = testing::SourceDir() + "/src/report/testdata/" +
                             std::string(c.name) + ".prn";
  const char* update = std::getenv("TARNEVOS_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(golden, std::ios::binary) << printed;
    GTEST_SKIP() << "written " << golden;
  }
  const std::string expected = ReadWhole(golden);
  ASSERT_FALSE(expected.empty()) << "no golden file " << golden;
  if (printed == expected) return;
  // Name the first line that differs.
  std::istringstream got(printed);
  std::istringstream want(expected);
  std::string got_line;
  std::string want_line;
  for (int line = 1;; ++line) {
    const bool more_got = static_cast<bool>(std::getline(got, got_line));
    const bool more_want = static_cast<bool>(std::getline(want, want_line));
    if (!more_got && !more_want) break;
    if (got_line != want_line || more_got != more_want) {
      FAIL() << golden << " line " << line
             << "\n  expected: " << Utf8FromCp850(want_line)
             << "\n  printed:  " << Utf8FromCp850(got_line);
    }
  }
  FAIL() << "print file differs from " << golden;
}

// An amount slot of the demo's print file ("." thousands, "," decimals):
// the last two characters are the cents, which the remainder line's mask
// leaves blank where they are zero.
int64_t ParseSlot(const std::string& slot) {
  int64_t value = 0;
  for (size_t i = 0; i < slot.size(); ++i) {
    const bool cents = i + 2 >= slot.size();
    if (slot[i] >= '0' && slot[i] <= '9') {
      value = value * 10 + (slot[i] - '0');
    } else if (cents) {
      value = value * 10;
    }
  }
  return slot.find('-') != std::string::npos ? -value : value;
}

testing::LineFigures12 SlotsOf(const std::string& line) {
  testing::LineFigures12 figures{};
  const auto slots = testing::FigureSlots(line);
  for (size_t i = 0; i < slots.size(); ++i) figures[i] = ParseSlot(slots[i]);
  return figures;
}

// The settlements handed out with the report are the figures it printed:
// every unit line, remainder line and euro total line, in order; and each
// column's listed shares plus the remainder make up the community's total.
TEST_P(DemoGoldenTest, SettlementsHandedOutAreTheFiguresPrinted) {
  const GoldenCase& c = GetParam();
  ReportParameters& parameters = Parameters();
  parameters.cutoff_date = PackDigits("20261130");
  parameters.range_from = PackDottedCode(c.from);
  parameters.range_to = PackDottedCode(c.to);
  parameters.copies = c.copies;
  std::vector<CommunitySettlement> settlements;
  ProduceReport([&settlements](const CommunitySettlement& settlement) {
    settlements.push_back(settlement);
  });
  ASSERT_FALSE(settlements.empty());

  std::vector<testing::LineFigures12> expected;
  for (const CommunitySettlement& settlement : settlements) {
    if (settlement.units.empty()) continue;
    for (const UnitSettlement& unit : settlement.units) {
      expected.push_back(unit.Figures());
    }
    expected.push_back(settlement.remainder);
    expected.push_back(settlement.totals);

    for (size_t i = 0; i < settlement.totals.size(); ++i) {
      int64_t sum = settlement.remainder[i];
      for (const UnitSettlement& unit : settlement.units) {
        sum += unit.Figures()[i];
      }
      EXPECT_EQ(sum, settlement.totals[i]) << "figure " << i;
    }
  }

  // The figure lines of the print file: unit lines start with three
  // digits, the remainder line stands above its rule, the euro total line
  // starts with its label.
  std::vector<testing::LineFigures12> printed;
  std::vector<std::string> lines;
  for (const std::string& line :
       testing::RenderPrintFile(dir_.Read("kelprint.tmp"))) {
    const bool unit_line = line.size() > 4 && std::isdigit(line[0]) &&
                           std::isdigit(line[1]) && std::isdigit(line[2]) &&
                           line[3] == ' ';
    const bool total = line.rfind("TOTAL", 0) == 0;
    // The remainder line is the one above the rule.
    const bool rule = line.size() >= 135 &&
                      line.compare(0, 15, std::string(15, ' ')) == 0 &&
                      line.compare(15, 120, std::string(120, '-')) == 0;
    if (rule && !lines.empty()) {
      printed.push_back(SlotsOf(lines.back()));
    }
    if (unit_line || total) printed.push_back(SlotsOf(line));
    lines.push_back(line);
  }
  EXPECT_EQ(printed, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Demo, DemoGoldenTest,
    ::testing::Values(
        // Every unit of every community: each closes with "AJUST".
        GoldenCase{"demo_all_catalan", "CAT", true, "1.0", "999.999", 1},
        // Units left out of communities 4 and 5: "RESTA COMUNITAT", in Spanish.
        GoldenCase{"demo_part_spanish", "SPA", true, "4.3", "5.40", 1},
        // Pre-printed paper: from the community never settled to the one
        // that needs a second page.
        GoldenCase{"demo_preprinted_catalan", "CAT", false, "2.0", "5.999", 1}),
    [](const ::testing::TestParamInfo<GoldenCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace tarnevos
