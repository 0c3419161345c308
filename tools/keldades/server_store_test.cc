// The data tool on an installation whose Orvo.ini names the test
// PostgreSQL server: load, dump and generate go through the record manager
// to tables there; a load replaces all six files in one transaction or
// none; moving an installation from files to the server is a dump and a
// load; export, import and check read and write the server's tables.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "data/data_files.h"
#include "keldades/cli.h"
#include "keldades/cli_testing.h"
#include "keldades/dataset.h"
#include "keldades/store.h"
#include "platform/recordmanager/record_manager.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "support/test_server.h"

namespace tarnevos::keldades {
namespace {

using tool_test::Keldades;
using tool_test::Outcome;
using tool_test::SamplePath;

// Passes everything to a server engine of its own, except that switching
// the set answers 95, as when the connection goes while the server
// commits: with `commit_first` the server has made the switch, and without
// `reachable` every later open answers 20, as when the server went away.
class LostAtSwitch : public platform::RecordManager {
 public:
  LostAtSwitch(const platform::ServerSettings& server, bool commit_first,
               bool reachable)
      : engine_(platform::MakePostgresRecordManager(server)),
        commit_first_(commit_first),
        reachable_(reachable) {
    platform::SetRecordManager(this);
  }
  ~LostAtSwitch() override { platform::SetRecordManager(nullptr); }
  LostAtSwitch(const LostAtSwitch&) = delete;
  LostAtSwitch& operator=(const LostAtSwitch&) = delete;

  int16_t Call(int16_t operation, uint8_t* block, uint8_t* data,
               uint32_t* length, uint8_t* key, uint8_t key_length,
               int8_t key_number) override {
    if (lost_ && !reachable_ && operation == platform::kOpOpen) {
      return platform::kStatusServerUnreachable;
    }
    return engine_->Call(operation, block, data, length, key, key_length,
                         key_number);
  }
  int16_t InsertMany(uint8_t* block, const uint8_t* records,
                     uint32_t record_size, uint32_t count, int8_t key_number,
                     uint32_t* failed_index) override {
    return engine_->InsertMany(block, records, record_size, count, key_number,
                               failed_index);
  }
  int16_t RemoveFile(const std::string& name) override {
    if (lost_ && !reachable_) return platform::kStatusServerUnreachable;
    return engine_->RemoveFile(name);
  }
  int16_t ReplaceFiles(const std::vector<platform::FileMove>& moves) override {
    lost_ = true;
    if (commit_first_) {
      EXPECT_EQ(engine_->ReplaceFiles(moves), platform::kStatusOk);
    }
    return platform::kStatusConnectionLost;
  }

 private:
  std::unique_ptr<platform::RecordManager> engine_;
  bool commit_first_;
  bool reachable_;
  bool lost_ = false;
};

class KeldadesOnServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    std::optional<testing::TestServer> found = testing::SharedTestServer(&why);
    if (!found) {
      GTEST_SKIP() << why;
    }
    server_ = *found;
    testing::ResetRunState();
    root_.Write("Orvo.ini", "[Dades]\r\nServidor=" + server_.conninfo +
                                "\r\nEsquema=" + schema_.name() + "\r\n");
  }
  void TearDown() override { testing::ResetRunState(); }

  std::string Dump(const std::string& root) {
    Outcome run = Keldades({"dump", root});
    EXPECT_EQ(run.code, 0) << run.err;
    return run.out;
  }

  std::vector<std::string> Tables() {
    std::string error;
    auto rows = testing::ServerQuery(
        "SELECT name FROM " + schema_.name() + ".datafiles ORDER BY name",
        &error);
    EXPECT_TRUE(rows.has_value()) << error;
    return rows.value_or(std::vector<std::string>{});
  }

  testing::ScratchDir root_;
  testing::ScratchSchema schema_;
  testing::TestServer server_;
};

TEST_F(KeldadesOnServer, FilesMoveToTheServerByDumpAndLoad) {
  // The installation on files first.
  testing::ScratchDir files;
  Outcome run = Keldades({"load", files.path(), SamplePath()});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string dataset = Dump(files.path());
  files.Write("moved.json", dataset);

  run = Keldades({"load", root_.path(), files.path() + "moved.json"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("3 units"), std::string::npos) << run.out;
  EXPECT_EQ(Dump(root_.path()), dataset);
  EXPECT_FALSE(root_.Exists("DADES"));
  EXPECT_EQ(Tables(), (std::vector<std::string>{
                          "dades/cobramh.dat", "dades/findesph.dat",
                          "dades/finquesh.dat", "dades/pagamh.dat",
                          "dades/propieth.dat", "dades/threbut.dat"}));

  // Generated straight into the server as well.
  run = Keldades({"generate", root_.path(), "--communities", "3", "--units",
                  "4", "--years", "1"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("144 collections"), std::string::npos) << run.out;
  EXPECT_NE(Dump(root_.path()), dataset);
  EXPECT_EQ(Tables().size(), 6u);
}

TEST_F(KeldadesOnServer, ALoadReplacesEveryFileOrNone) {
  ASSERT_EQ(Keldades({"load", root_.path(), SamplePath()}).code, 0);
  const std::string before = Dump(root_.path());
  const std::vector<std::string> tables = Tables();
  root_.Write("other.json", R"({"communities": [{"code": 9}]})");

  // A program has PropietH open: nothing is replaced, nothing is left.
  std::unique_ptr<platform::RecordManager> program =
      platform::MakePostgresRecordManager(
          {server_.conninfo, schema_.name(), root_.path()});
  std::array<uint8_t, platform::kPositionBlockSize> block{};
  std::array<uint8_t, 255> name;
  name.fill(' ');
  const std::string path = root_.path() + "DADES\\PropietH.dat";
  std::memcpy(name.data(), path.c_str(), path.size() + 1);
  std::array<uint8_t, 1536> data{};
  uint32_t length = 5;
  ASSERT_EQ(program->Call(platform::kOpOpen, block.data(), data.data(), &length,
                          name.data(), 255, 0),
            platform::kStatusOk);
  Outcome run = Keldades({"load", root_.path(), root_.path() + "other.json"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("file locked"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("nothing was changed"), std::string::npos) << run.err;
  EXPECT_EQ(Dump(root_.path()), before);
  EXPECT_EQ(Tables(), tables);

  // Closed: the load goes through, all six files at once.
  program.reset();
  run = Keldades({"load", root_.path(), root_.path() + "other.json"});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string after = Dump(root_.path());
  EXPECT_NE(after.find("\"code\":9"), std::string::npos) << after;
  EXPECT_EQ(after.find("\"units\": [\n"), std::string::npos) << after;
  EXPECT_EQ(Tables(), tables);
}

TEST_F(KeldadesOnServer, ExportImportAndCheckGoThroughTheServer) {
  // A server installation without its tables is told as a missing file.
  Outcome run = Keldades({"check", root_.path()});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("THRebut.dat: missing"), std::string::npos) << run.err;

  // The same data on files and on the server: the check finds the same.
  testing::ScratchDir files;
  ASSERT_EQ(Keldades({"load", files.path(), SamplePath()}).code, 0);
  run = Keldades({"load", root_.path(), SamplePath()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err.find("cannot be checked"), std::string::npos) << run.err;
  const std::string dataset = Dump(root_.path());
  const Outcome on_files =
      Keldades({"check", files.path(), "--cutoff", "2026-11-30"});
  run = Keldades({"check", root_.path(), "--cutoff", "2026-11-30"});
  EXPECT_NE(run.code, 2) << run.err;
  EXPECT_EQ(run.code, on_files.code);
  EXPECT_EQ(run.out, on_files.out);

  // Export from the server writes what the export from files writes.
  const std::string from_server = files.path() + "server-csv/";
  const std::string from_files = files.path() + "files-csv/";
  run = Keldades({"export", root_.path(), from_server});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("schema " + schema_.name() + " on the server"),
            std::string::npos)
      << run.out;
  ASSERT_EQ(Keldades({"export", files.path(), from_files}).code, 0);
  for (const char* name : {"receipt_types.csv", "communities.csv", "units.csv",
                           "collections.csv", "payments.csv"}) {
    EXPECT_FALSE(files.Read(std::string("files-csv/") + name).empty()) << name;
    EXPECT_EQ(files.Read(std::string("server-csv/") + name),
              files.Read(std::string("files-csv/") + name))
        << name;
  }

  // Import replaces the server's tables from the CSV files.
  ASSERT_EQ(Keldades({"generate", root_.path(), "--communities", "2", "--units",
                      "2", "--years", "1"})
                .code,
            0);
  ASSERT_NE(Dump(root_.path()), dataset);
  run = Keldades({"import", root_.path(), from_files});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("imported into schema " + schema_.name()),
            std::string::npos)
      << run.out;
  EXPECT_EQ(Dump(root_.path()), dataset);
  EXPECT_FALSE(root_.Exists("DADES"));
}

// The connection lost while the server switches the set: once connected
// again the load tells by the temporary tables whether the switch was
// made (the transaction renamed all of them or none), and says plainly
// when it cannot tell.
TEST_F(KeldadesOnServer, ALoadWhoseConnectionGoesAtTheSwitchTellsWhatHappened) {
  ASSERT_EQ(Keldades({"load", root_.path(), SamplePath()}).code, 0);
  const std::string before = Dump(root_.path());
  const std::vector<std::string> tables = Tables();
  root_.Write("other.json", R"({"communities": [{"code": 9}]})");
  const std::string other = root_.path() + "other.json";
  const platform::ServerSettings server{server_.conninfo, schema_.name(),
                                        root_.path()};
  {
    // Lost before the server committed: nothing changed, nothing left.
    LostAtSwitch lost(server, false, true);
    Outcome run = Keldades({"load", root_.path(), other});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("connection to the server lost"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("nothing was changed"), std::string::npos)
        << run.err;
  }
  EXPECT_EQ(Dump(root_.path()), before);
  EXPECT_EQ(Tables(), tables);
  {
    // Lost, and the server gone: the load cannot know and says so.
    LostAtSwitch lost(server, false, false);
    Outcome run = Keldades({"load", root_.path(), other});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("cannot be reached to tell"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("all the old ones or all the new ones"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("nothing was changed"), std::string::npos)
        << run.err;
  }
  EXPECT_EQ(Dump(root_.path()), before);
  // Its temporary tables stay until the next load.
  EXPECT_EQ(Tables().size(), 12u);
  {
    // Lost after the server committed: the new set is in place.
    LostAtSwitch lost(server, true, true);
    Outcome run = Keldades({"load", root_.path(), other});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("already put the new files in place"),
              std::string::npos)
        << run.err;
  }
  EXPECT_NE(Dump(root_.path()).find("\"code\":9"), std::string::npos);
  EXPECT_EQ(Tables(), tables);
}

}  // namespace
}  // namespace tarnevos::keldades
