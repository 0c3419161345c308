#include "keldades/file_set.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "data/data_files.h"
#include "keldades/cli.h"
#include "keldades/cli_testing.h"
#include "keldades/dataset.h"
#include "keldades/store.h"
#include "support/run_state.h"
#include "support/scratch.h"

namespace tarnevos::keldades {
namespace {

using tool_test::Keldades;
using tool_test::Outcome;

namespace fs = std::filesystem;

// Two datasets that differ in every file.
Json FirstDataset() {
  std::ifstream in(testing::SourceDir() +
                   "/tools/keldades/testdata/sample.json");
  return Json::parse(in);
}
Json SecondDataset() {
  Json data = FirstDataset();
  for (Json& type : data["receipt_types"]) type["class"] = 7;
  for (Json& community : data["communities"]) {
    community["name"] = "ALTRA*COMUNITAT";
    community["expense_headings"] = "HOC";
  }
  for (Json& unit : data["units"]) unit["designation"] = "ALTRE";
  for (Json& collection : data["collections"]) collection["amount"] = 1;
  for (Json& payment : data["payments"]) payment["amount"] = 2;
  return data;
}

// Each file's records, in key order, one after the other.
using FileContents = std::array<std::string, kFileCount>;

FileContents ContentsOf(const Json& dataset) {
  RecordSet records;
  std::string error;
  EXPECT_TRUE(ParseDataset(dataset.dump(), records, error)) << error;
  FileContents contents;
  for (int file = 0; file < kFileCount; ++file) {
    for (const std::string& record : records.files[file]) {
      contents[file] += record;
    }
  }
  return contents;
}

FileContents ReadInstallation(const std::string& root) {
  FileContents contents;
  for (int file = 0; file < kFileCount; ++file) {
    std::string error;
    EXPECT_TRUE(ReadRecords(
        root, static_cast<FileIndex>(file),
        [&](std::string_view record) { contents[file] += record; }, error))
        << error;
  }
  return contents;
}

class FileSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    TEST_FailFileSetOperation(0);
    root_.Write("first.json", FirstDataset().dump());
    root_.Write("second.json", SecondDataset().dump());
    first_ = ContentsOf(FirstDataset());
    second_ = ContentsOf(SecondDataset());
    ASSERT_NE(first_, second_);
    for (int file = 0; file < kFileCount; ++file) {
      ASSERT_NE(first_[file], second_[file]) << file;
    }
  }
  void TearDown() override {
    TEST_FailFileSetOperation(0);
    testing::ResetRunState();
  }

  std::string Dataset(const std::string& name) const {
    return root_.path() + name + ".json";
  }

  // Which whole set the installation holds: 1 the first, 2 the second,
  // 0 a mix or anything else. Other files of the data folder must be
  // untouched.
  int WholeSet() {
    EXPECT_EQ(root_.Read("DADES/OTHER.dat"), "another program's data");
    for (const auto& entry : fs::directory_iterator(root_.path() + "DADES")) {
      const std::string name = entry.path().filename().string();
      const bool known =
          name == "OTHER.dat" ||
          FindFileLayout(name.substr(0, name.find('.'))) != nullptr;
      EXPECT_TRUE(known) << name << " in the data folder";
    }
    const FileContents contents = ReadInstallation(root_.path());
    if (contents == first_) return 1;
    if (contents == second_) return 2;
    return 0;
  }

  // Entries beside the data folder that are not the installation's.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_.path())) {
      const std::string name = entry.path().filename().string();
      if (name.find(".keldades-") != std::string::npos) names.push_back(name);
    }
    for (const auto& entry : fs::directory_iterator(root_.path() + "DADES")) {
      const std::string name = entry.path().filename().string();
      if (name.find(".keldades-") != std::string::npos) names.push_back(name);
    }
    return names;
  }

  // The first set in place, with a file of another program beside it.
  void InstallFirst() {
    ASSERT_EQ(Keldades({"load", root_.path(), Dataset("first")}).code, 0);
    root_.Write("DADES/OTHER.dat", "another program's data");
    ASSERT_EQ(WholeSet(), 1);
  }

  // On a memory file system where there is one: the loads' writes to disk
  // would make the hundreds of loads below slow on a busy disk.
  testing::ScratchDir root_{"/dev/shm"};
  FileContents first_;
  FileContents second_;
};

// Every file-system operation of a load is made to fail in turn: the load
// then either reports that nothing was changed and the first set is whole,
// or reports success and the second set is whole. What a failed load left
// is cleaned by the next one.
TEST_F(FileSetTest, EveryFailingStepLeavesTheWholeOldOrTheWholeNewSet) {
  InstallFirst();
  int refused = 0;
  int loaded_with_warning = 0;
  for (int n = 1;; ++n) {
    SCOPED_TRACE(n);
    TEST_FailFileSetOperation(n);
    const Outcome run = Keldades({"load", root_.path(), Dataset("second")});
    const int made = TEST_FailFileSetOperation(0);
    const int set = WholeSet();
    if (run.code == 0) {
      EXPECT_EQ(set, 2);
      if (!run.err.empty()) {
        EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
        ++loaded_with_warning;
      }
    } else {
      EXPECT_EQ(run.code, 1);
      EXPECT_EQ(set, 1);
      EXPECT_NE(run.err.find("nothing was changed"), std::string::npos)
          << run.err;
      ++refused;
    }
    // Back to the first set; leftovers of the failure are cleaned.
    ASSERT_EQ(Keldades({"load", root_.path(), Dataset("first")}).code, 0);
    ASSERT_EQ(WholeSet(), 1);
    EXPECT_TRUE(Leftovers().empty());
    if (made < n) break;  // the load no longer reached the failing step
  }
  EXPECT_GE(refused, 5);
  EXPECT_GE(loaded_with_warning, 1);
}

// The data tool itself killed at random moments of a load, again and
// again: every time the data folder holds one whole set, and nothing a
// killed load left behind stays after the next one.
TEST_F(FileSetTest, KilledLoadsLeaveTheWholeOldOrTheWholeNewSet) {
  // The data tool is built beside this test.
  std::error_code ec;
  const std::string keldades =
      (fs::read_symlink("/proc/self/exe", ec).parent_path() / "keldades")
          .string();
  ASSERT_TRUE(fs::exists(keldades)) << keldades;
  InstallFirst();

  auto start = [&](const std::string& dataset) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::freopen("/dev/null", "w", stdout);
      std::freopen("/dev/null", "w", stderr);
      ::execl(keldades.c_str(), "keldades", "load", root_.path().c_str(),
              dataset.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  };
  // How long a whole load takes here (the longest of three).
  using Clock = std::chrono::steady_clock;
  Clock::duration load_time{};
  for (int i = 0; i < 3; ++i) {
    const auto begin = Clock::now();
    int status = 0;
    ::waitpid(start(Dataset(i % 2 == 0 ? "second" : "first")), &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    load_time = std::max(load_time, Clock::now() - begin);
  }
  ASSERT_EQ(WholeSet(), 2);

  std::mt19937 random(20261208);
  std::uniform_int_distribution<long long> delay(
      0,
      std::chrono::duration_cast<std::chrono::microseconds>(load_time).count() *
          11 / 10);
  int set = 2;
  int kills = 0;
  int completed = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(50);
  while (kills < 200 && Clock::now() < deadline) {
    const pid_t pid = start(Dataset(set == 1 ? "second" : "first"));
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const int now = WholeSet();
    if (WIFSIGNALED(status)) {
      ++kills;
      EXPECT_TRUE(now == 1 || now == 2) << "after kill " << kills;
    } else {
      ++completed;
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      EXPECT_NE(now, set) << "a completed load left the old set";
    }
    if (now == 0) break;
    set = now;
  }
  EXPECT_GE(kills, 200) << "only " << kills << " loads were killed in time";
  // The next complete load cleans whatever the last killed one left.
  ASSERT_EQ(Keldades({"load", root_.path(), Dataset("first")}).code, 0);
  EXPECT_EQ(WholeSet(), 1);
  EXPECT_TRUE(Leftovers().empty());
  RecordProperty("kills", kills);
  RecordProperty("completed", completed);
}

// Leftovers of killed loads, before and after the exchange of the folders,
// are removed by the next start of the data tool (any command); other
// programs' files found only in an old set go back to the data folder, and
// a working folder whose load is still running is left alone.
TEST_F(FileSetTest, LeftoversAreCleanedAtTheNextStartAndNeverRead) {
  InstallFirst();
  const std::string data = root_.path() + "DADES";
  // A new set that never became the data.
  root_.Write("DADES.keldades-99999/PagamH.dat", "half a file");
  // An old set after the exchange, with a file another program made.
  fs::create_directories(root_.path() + "DADES.keldades-99998");
  root_.Write("DADES.keldades-99998/CobramH.dat", "old");
  root_.Write("DADES.keldades-99998/LATE.dat", "made during the load");
  {
    struct stat info;
    ASSERT_EQ(::stat((root_.path() + "DADES.keldades-99998").c_str(), &info),
              0);
    root_.Write(
        "DADES.keldades-99998.lock",
        std::to_string(info.st_dev) + " " + std::to_string(info.st_ino) + "\n");
  }
  // An earlier version's temporary file in the data folder.
  root_.Write("DADES/CobramH.dat.keldades-new", "old style");
  EXPECT_EQ(WholeSet(), 1);  // none of it is read as data

  // A running load: its lock is held.
  FileSetSwitch running;
  std::string error;
  ASSERT_TRUE(running.Begin(root_.path() + "elsewhere", {}, error)) << error;
  fs::rename(running.working_folder(), root_.path() + "DADES.keldades-1");
  fs::rename(running.working_folder() + ".lock",
             root_.path() + "DADES.keldades-1.lock");

  std::ostringstream out, err;
  ASSERT_EQ(RunKeldades({"dump", root_.path(), "THRebut"}, out, err), 0);
  EXPECT_EQ(root_.Read("DADES/LATE.dat"), "made during the load");
  fs::remove(root_.path() + "DADES/LATE.dat");
  EXPECT_FALSE(root_.Exists("DADES/CobramH.dat.keldades-new"));
  std::vector<std::string> left = Leftovers();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"DADES.keldades-1",
                                            "DADES.keldades-1.lock"}));
  fs::rename(root_.path() + "DADES.keldades-1", running.working_folder());
  fs::rename(root_.path() + "DADES.keldades-1.lock",
             running.working_folder() + ".lock");
  running.Abandon();
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_EQ(WholeSet(), 1);
}

// A dataset or a dictionary that is a folder is refused with a message
// (the data tool once aborted on them).
TEST_F(FileSetTest, FoldersWhereFilesAreDueAreRefused) {
  InstallFirst();
  fs::create_directories(root_.path() + "folder.json");
  Outcome run = Keldades({"load", root_.path(), root_.path() + "folder.json"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("folder.json: cannot be read"), std::string::npos)
      << run.err;
  fs::remove(root_.path() + "ddf/PagamH.xdf");
  fs::create_directories(root_.path() + "ddf/PagamH.xdf");
  run = Keldades({"load", root_.path(), Dataset("second")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("PagamH.xdf: is a folder"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("nothing was changed"), std::string::npos) << run.err;
  EXPECT_EQ(WholeSet(), 1);
  EXPECT_TRUE(Leftovers().empty());
}

}  // namespace
}  // namespace tarnevos::keldades
