#include "keldades/store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>

#include "data/access_layer.h"
#include "data/data_files.h"
#include "keldades/cli.h"
#include "keldades/cli_testing.h"
#include "platform/recordmanager/record_manager.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"

namespace tarnevos::keldades {
namespace {

using tool_test::Keldades;
using tool_test::Outcome;
using tool_test::SamplePath;

namespace fs = std::filesystem;

// Passes everything to a SQLite engine of its own, except that loading
// records of one length fails.
class FailingLoads : public platform::RecordManager {
 public:
  explicit FailingLoads(uint32_t failing_length)
      : failing_length_(failing_length) {
    platform::SetRecordManager(this);
  }
  ~FailingLoads() override { platform::SetRecordManager(nullptr); }
  FailingLoads(const FailingLoads&) = delete;
  FailingLoads& operator=(const FailingLoads&) = delete;

  int16_t Call(int16_t operation, uint8_t* block, uint8_t* data,
               uint32_t* length, uint8_t* key, uint8_t key_length,
               int8_t key_number) override {
    return engine_->Call(operation, block, data, length, key, key_length,
                         key_number);
  }
  int16_t InsertMany(uint8_t* block, const uint8_t* records,
                     uint32_t record_size, uint32_t count, int8_t key_number,
                     uint32_t* failed_index) override {
    if (record_size == failing_length_) {
      if (failed_index != nullptr) *failed_index = 0;
      return platform::kStatusIoError;
    }
    return engine_->InsertMany(block, records, record_size, count, key_number,
                               failed_index);
  }
  int16_t RemoveFile(const std::string& name) override {
    return engine_->RemoveFile(name);
  }
  int16_t ReplaceFiles(const std::vector<platform::FileMove>& moves) override {
    return engine_->ReplaceFiles(moves);
  }

 private:
  std::unique_ptr<platform::RecordManager> engine_ =
      platform::MakeSqliteRecordManager();
  uint32_t failing_length_;
};

class KeldadesFiles : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetRunState(); }
  void TearDown() override { testing::ResetRunState(); }

  std::string Dump(const std::string& file = "") {
    Outcome run = file.empty() ? Keldades({"dump", root_.path()})
                               : Keldades({"dump", root_.path(), file});
    EXPECT_EQ(run.code, 0) << run.err;
    return run.out;
  }
  std::set<std::string> DataFolder() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_.path() + "DADES")) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  testing::ScratchDir root_;
};

TEST_F(KeldadesFiles, InitWritesTheSixDictionaries) {
  Outcome run = Keldades({"init", root_.path()});
  ASSERT_EQ(run.code, 0) << run.err;
  for (const FileLayout& layout : FileLayouts()) {
    EXPECT_EQ(root_.Read(std::string("ddf/") + layout.name + ".xdf"),
              DictionaryBytes(layout))
        << layout.name;
  }
}

TEST_F(KeldadesFiles, LoadThenDumpGivesTheDatasetBack) {
  Outcome run = Keldades({"load", root_.path(), SamplePath()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("3 units"), std::string::npos) << run.out;

  std::ifstream in(SamplePath());
  Json sample = Json::parse(in);
  EXPECT_EQ(Json::parse(Dump()), sample);
  const std::set<std::string> six = {"THRebut.dat",  "FinquesH.dat",
                                     "FinDespH.dat", "PropietH.dat",
                                     "PagamH.dat",   "CobramH.dat"};
  EXPECT_EQ(DataFolder(), six);

  // One file's section alone; FinDespH shows within the communities.
  Json units = Json::parse(Dump("propieth"));
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units["units"], sample["units"]);
  EXPECT_EQ(Json::parse(Dump("FinDespH"))["communities"],
            sample["communities"]);
  Outcome unknown = Keldades({"dump", root_.path(), "Cobram"});
  EXPECT_EQ(unknown.code, 1);
  EXPECT_NE(unknown.err.find("Cobram: not a data file"), std::string::npos);
}

TEST_F(KeldadesFiles, AFailedLoadChangesNothing) {
  ASSERT_EQ(Keldades({"load", root_.path(), SamplePath()}).code, 0);
  const std::string before = Dump();
  const auto files = DataFolder();

  // A bad value anywhere: nothing is written.
  std::ifstream in(SamplePath());
  Json bad = Json::parse(in);
  bad["payments"][2]["date"] = "2026-13-01";
  root_.Write("bad.json", bad.dump());
  Outcome run = Keldades({"load", root_.path(), root_.path() + "bad.json"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("payments[2].date"), std::string::npos) << run.err;
  EXPECT_EQ(Dump(), before);

  // A file that fails while being written: the others are not replaced
  // either and no temporary file stays behind.
  root_.Write("other.json",
              R"({"communities": [{"code": 9}],
                  "payments": [{"community": 9, "date": "2026-01-01"}]})");
  {
    FailingLoads failing(kPagamLength);
    std::string error;
    RecordSet records;
    ASSERT_TRUE(ParseDataset(root_.Read("other.json"), records, error));
    WriteCounts counts;
    EXPECT_FALSE(
        WriteRecordSet(RootPath(root_.path()), records, counts, error));
    EXPECT_NE(error.find("PagamH"), std::string::npos) << error;
  }
  platform::TEST_ResetRecordManager();
  EXPECT_EQ(Dump(), before);
  EXPECT_EQ(DataFolder(), files);

  // A dictionary that does not describe the tool's records is refused.
  std::string dictionary = root_.Read("ddf/CobramH.xdf");
  dictionary[2] = 30;  // record length 30
  root_.Write("ddf/CobramH.xdf", dictionary);
  run = Keldades({"load", root_.path(), root_.path() + "other.json"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("describes records of 30 bytes"), std::string::npos)
      << run.err;
  EXPECT_EQ(Dump(), before);
  EXPECT_EQ(DataFolder(), files);
}

// A program writing one of the old files would lose its writes with them:
// while one has a file open the load changes nothing.
TEST_F(KeldadesFiles, AFileAnotherProgramHasOpenIsNotReplaced) {
  ASSERT_EQ(Keldades({"load", root_.path(), SamplePath()}).code, 0);
  const std::string before = Dump();
  root_.Write("other.json", R"({"communities": [{"code": 9}]})");
  std::unique_ptr<platform::RecordManager> program =
      platform::MakeSqliteRecordManager();
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
  const std::set<std::string> files = DataFolder();
  Outcome run = Keldades({"load", root_.path(), root_.path() + "other.json"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("file locked"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("nothing was changed"), std::string::npos) << run.err;
  EXPECT_EQ(Dump(), before);
  EXPECT_EQ(DataFolder(), files);
  EXPECT_FALSE(fs::exists(root_.path() + "DADES.keldades-" +
                          std::to_string(::getpid())));

  program.reset();
  run = Keldades({"load", root_.path(), root_.path() + "other.json"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(Dump().find("\"code\":9"), std::string::npos);
}

TEST_F(KeldadesFiles, GeneratedInstallationsReadThroughTheAccessLayer) {
  Outcome run = Keldades({"generate", root_.path(), "--communities", "4",
                          "--units", "6", "--years", "1", "--seed", "9"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("288 collections"), std::string::npos) << run.out;

  TEST_ResetAccessLayer();
  TEST_MutableSession().root_dir = root_.path();
  OpenAllDataFiles();
  // Every community, and the general coefficients of each adding up to a
  // million, as the report will read them.
  int communities = 0;
  int16_t status = -1;
  ReadByKey(kFinquesHandle, 0, "", 1, status);
  while (status == 0) {
    ++communities;
    std::string code = GetBytes(Areas().finques.data(), 0, 2);
    int64_t general = 0;
    int units = 0;
    int16_t unit_status = -1;
    ReadByKey(kPropietHandle, 0, code, 1, unit_status);
    while (unit_status == 0 && GetBytes(Areas().propiet.data(), 0, 2) == code) {
      ++units;
      general += GetInt32(Areas().propiet.data(), field::Coefficient(1));
      StepRecords(kPropietHandle, 1, unit_status);
    }
    EXPECT_EQ(units, 6);
    EXPECT_EQ(general, 1000000);
    StepRecords(kFinquesHandle, 1, status);
  }
  EXPECT_EQ(communities, 4);
  CloseAllDataFiles(status);
  EXPECT_EQ(status, 0);
  TEST_MutableSession() = SessionSettings{};
}

TEST_F(KeldadesFiles, BadCommandLinesAreRefusedWithUsage) {
  struct Case {
    std::vector<std::string> arguments;
    int code;
    std::string message;
  } cases[] = {
      {{}, 64, "usage"},
      {{"init"}, 64, "usage"},
      {{"load", root_.path()}, 64, "usage"},
      {{"frobnicate", root_.path()}, 64, "usage"},
      {{"--frobnicate"}, 64, "unknown option --frobnicate"},
      {{"generate", root_.path(), "--units", "0"},
       64,
       "--units must be from 1 to 999"},
      {{"generate", root_.path(), "--years", "x"}, 64, "needs a whole number"},
      {{"generate", root_.path(), "--colour", "3"}, 64, "unknown option"},
      {{"new"}, 64, "usage: keldades new"},
      {{"new", root_.path(), "--language", "FRA"}, 64, "CAT, SPA, GLG or OCI"},
      {{"new", root_.path(), "a.json", "b.json"}, 64, "usage: keldades new"},
      {{"new", root_.path(), "--colour"}, 64, "unknown option --colour"},
      {{"load", root_.path(), root_.path() + "missing.json"},
       1,
       "cannot be read"},
      {{"load", root_.path(), root_.path()}, 1, "cannot be read"},
  };
  for (const Case& c : cases) {
    Outcome run = Keldades(c.arguments);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(root_.path() + "DADES"));
}

}  // namespace
}  // namespace tarnevos::keldades
