// The same installation loaded once into SQLite files and once into the
// test PostgreSQL server gives the same print file, byte for byte: the
// demo's dataset and a generated installation, loaded and generated with
// the data tool built beside the tests.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "console/form_table.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "platform/console/memory_console.h"
#include "platform/recordmanager/record_manager.h"
#include "platform/system/system.h"
#include "print/print_file.h"
#include "report/batch.h"
#include "report/report_form.h"
#include "report/settlement.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "support/test_server.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

struct Source {
  const char* name;
  // keldades arguments after "ROOT": a dataset to load, or generate options.
  std::vector<std::string> arguments;
  const char* cutoff;
};

class ServerReportTest : public ::testing::TestWithParam<Source> {
 protected:
  void SetUp() override {
    std::string why;
    std::optional<testing::TestServer> found = testing::SharedTestServer(&why);
    if (!found) {
      GTEST_SKIP() << why;
    }
    const char* binary_dir = std::getenv("TARNEVOS_BINARY_DIR");
    tool_ = std::string(binary_dir == nullptr ? "." : binary_dir) +
            "/tools/keldades/keldades";
    if (!std::filesystem::exists(tool_)) {
      GTEST_SKIP() << "the data tool is not built: " << tool_;
    }
    dir_.Write("SERVER/Orvo.ini", "[Dades]\r\nServidor=" + found->conninfo +
                                      "\r\nEsquema=" + schema_.name() + "\r\n");
    Reset();
  }

  void TearDown() override { Reset(); }

  static void Reset() {
    int16_t status = 0;
    CloseAllDataFiles(status);
    testing::ResetRunState();
  }

  // Runs the data tool on `root` with the case's arguments.
  void Fill(const std::string& root) {
    for (std::vector<std::string> arguments :
         {std::vector<std::string>{"init", root}, GetParam().arguments}) {
      if (arguments[0] != "init") arguments.insert(arguments.begin() + 1, root);
      const platform::ProgramResult result =
          platform::RunProgram(tool_, arguments);
      ASSERT_TRUE(result.started && result.exit_code == 0)
          << tool_ << " " << arguments[0] << " " << root << ": "
          << result.error;
    }
  }

  // The session over the installation at `root` as the driver leaves it
  // before the report; returns the session's folder.
  std::string StartSession(const std::string& root) {
    Reset();
    const std::string session_dir = root + "SESSIO/";
    std::filesystem::create_directories(session_dir);
    SessionSettings& session = TEST_MutableSession();
    session.root_dir = root;
    session.tmp_dir = session_dir;
    session.exe_dir = session_dir;
    session.language = "CAT";
    session.output_target = "PANTALLA";
    SelectCurrency("a,E");
    MutableRun().program_id = "TARNEVOS";
    MutableRun().letterhead_mode = "S";
    platform::TEST_SetProgramRunner(
        [](std::string_view, const std::vector<std::string>&) {
          return platform::ProgramResult{true, 0, ""};
        });
    return session_dir;
  }

  // The print file of every community's summary over the installation at
  // `root`, as the program makes it after the form.
  std::string Report(const std::string& root) {
    const std::string session_dir = StartSession(root);
    OpenAllDataFiles();
    ReportParameters& parameters = Parameters();
    parameters.cutoff_date = PackDigits(GetParam().cutoff);
    parameters.range_from = PackDottedCode("1.0");
    parameters.range_to = PackDottedCode("9999.9999");
    parameters.copies = 1;
    ProduceReport();
    return testing::ReadWhole(session_dir + "kelprint.tmp");
  }

  // The batch run over the installation at `root` with the same
  // parameters, writing the settlement's CSV files into `csv`; returns the
  // print file.
  std::string Batch(const std::string& root, const std::string& csv) {
    const std::string session_dir = StartSession(root);
    const std::string cutoff = GetParam().cutoff;
    BatchOptions options;
    options.cutoff = cutoff.substr(0, 4) + "-" + cutoff.substr(4, 2) + "-" +
                     cutoff.substr(6, 2);
    options.from = "1.0";
    options.csv = csv;
    std::ostringstream err;
    EXPECT_EQ(RunBatch(options, err), kBatchDone) << err.str();
    return testing::ReadWhole(session_dir + "kelprint.tmp");
  }

  std::string tool_;
  testing::ScratchDir dir_;
  testing::ScratchSchema schema_;
  testing::ScopedEnv env_{{"KELROOT", std::nullopt}};
};

TEST_P(ServerReportTest, FilesAndServerPrintTheSameSummary) {
  const std::string files = dir_.path() + "FILES/";
  const std::string server = dir_.path() + "SERVER/";
  Fill(files);
  Fill(server);
  ASSERT_FALSE(HasFatalFailure());
  const std::string from_files = Report(files);
  const std::string from_server = Report(server);
  EXPECT_TRUE(dir_.Exists("FILES/DADES/CobramH.dat"));
  EXPECT_FALSE(dir_.Exists("SERVER/DADES")) << "the server root has files";
  ASSERT_GT(from_files.size(), 1000u);
  if (from_files == from_server) return;
  std::istringstream want(from_files);
  std::istringstream got(from_server);
  std::string want_line;
  std::string got_line;
  for (int line = 1;; ++line) {
    const bool more_want = static_cast<bool>(std::getline(want, want_line));
    const bool more_got = static_cast<bool>(std::getline(got, got_line));
    if (!more_want && !more_got) break;
    ASSERT_TRUE(more_want == more_got && want_line == got_line)
        << "line " << line << "\n  files:  " << want_line
        << "\n  server: " << got_line;
  }
}

// The batch run reads its data through the same engine selection: its
// print file and its CSV files are the same from files and from the server.
TEST_P(ServerReportTest, BatchRunWritesTheSameFilesFromTheServer) {
  const std::string files = dir_.path() + "FILES/";
  const std::string server = dir_.path() + "SERVER/";
  Fill(files);
  Fill(server);
  ASSERT_FALSE(HasFatalFailure());
  const std::string from_files = Batch(files, dir_.path() + "FILES-CSV");
  const std::string from_server = Batch(server, dir_.path() + "SERVER-CSV");
  EXPECT_FALSE(dir_.Exists("SERVER/DADES")) << "the server root has files";
  ASSERT_GT(from_files.size(), 1000u);
  EXPECT_TRUE(from_files == from_server) << "the print files differ";
  int compared = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(dir_.path() + "FILES-CSV")) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(dir_.Read("SERVER-CSV/" + name), dir_.Read("FILES-CSV/" + name))
        << name;
    ++compared;
  }
  EXPECT_GT(compared, 2) << "parameters.csv and the communities' files";
}

INSTANTIATE_TEST_SUITE_P(
    Installations, ServerReportTest,
    ::testing::Values(Source{"Demo",
                             {"load",
                              testing::SourceDir() + "/demo/root/data.json"},
                             "20261130"},
                      Source{"Generated",
                             {"generate", "--communities", "40", "--units",
                              "25", "--years", "3", "--seed", "7"},
                             "20261231"}),
    [](const ::testing::TestParamInfo<Source>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace tarnevos
