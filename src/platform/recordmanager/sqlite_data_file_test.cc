// What only the SQLite engine has: files on disk, which may be missing,
// foreign or damaged, sit in directories, and can be changed with the
// sqlite3 shell.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/recordmanager/record_manager.h"
#include "platform/recordmanager/test_files.h"
#include "support/scratch.h"
#include "util/little_endian.h"

namespace tarnevos::platform {
namespace {

using record_test::FileClient;
using record_test::MakeSpec;
using record_test::Reply;
using ::tarnevos::testing::ScratchDir;

constexpr uint16_t kRecordLength = 16;

std::string CodeSpec() {
  return MakeSpec(kRecordLength,
                  {{{1, 4}}, {{5, 2, kSegmentBinary | kSegmentDuplicates}}});
}

std::string Record(const std::string& code, uint16_t number) {
  std::string record = code.substr(0, 4);
  record.resize(4, ' ');
  le::AppendU16(record, number);
  record.resize(kRecordLength, '.');
  return record;
}

class SqliteFileTest : public ::testing::Test {
 protected:
  SqliteFileTest() : engine_(MakeSqliteRecordManager()), client_(*engine_) {}

  std::string Path(const std::string& name = "codes.dat") {
    return dir_.path() + name;
  }
  void OpenWith(const std::vector<std::string>& records) {
    ASSERT_EQ(client_.Create(Path(), CodeSpec()), kStatusOk);
    ASSERT_EQ(client_.Open(Path()), kStatusOk);
    for (const std::string& record : records) {
      ASSERT_EQ(client_.Insert(record), kStatusOk) << record;
    }
  }

  ScratchDir dir_;
  std::unique_ptr<RecordManager> engine_;
  FileClient client_;
};

TEST_F(SqliteFileTest, CreateNeedsTheDirectoryAndMayReplaceAnyFile) {
  EXPECT_EQ(client_.Create(dir_.path() + "missing/codes.dat", CodeSpec()),
            kStatusFileNotFound);
  EXPECT_FALSE(dir_.Exists("missing"));
  // Overwriting a file that is no data file at all is allowed.
  dir_.Write("junk.dat", "not a database");
  EXPECT_EQ(client_.Create(Path("junk.dat"), CodeSpec(), 0), kStatusOk);
  EXPECT_EQ(client_.Open(Path("junk.dat")), kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetFirst).status, kStatusEndOfFile);
}

TEST_F(SqliteFileTest, OpenReportsMissingAndForeignFiles) {
  ASSERT_EQ(client_.Create(Path(), CodeSpec()), kStatusOk);
  std::string good = dir_.Read("codes.dat");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_.path() + "foreign.dat").c_str(), &db),
              SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES (1);", nullptr,
                 nullptr, nullptr);
    sqlite3_close(db);
  }
  dir_.Write("empty.dat", "");
  dir_.Write("text.dat", "RECORD 1\nRECORD 2\n");
  dir_.Write("header.dat",
             std::string("SQLite format 3\0", 16) + std::string(4000, '\x7F'));
  dir_.Write("cut.dat", good.substr(0, good.size() / 2));
  std::string scrambled = good;
  for (size_t i = 100; i < scrambled.size(); i += 7) scrambled[i] ^= 0x5A;
  dir_.Write("scrambled.dat", scrambled);
  std::filesystem::create_directories(dir_.path() + "folder.dat");
  struct Case {
    std::string name;
    int16_t status;
  };
  const Case cases[] = {
      {"absent.dat", kStatusFileNotFound},
      {"nodir/absent.dat", kStatusFileNotFound},
      {"empty.dat", kStatusNotADataFile},
      {"text.dat", kStatusNotADataFile},
      {"foreign.dat", kStatusNotADataFile},
      {"header.dat", kStatusNotADataFile},
      {"cut.dat", kStatusNotADataFile},
      {"scrambled.dat", kStatusNotADataFile},
      {"folder.dat", kStatusNotADataFile},
  };
  for (const Case& c : cases) {
    FileClient client(*engine_);
    EXPECT_EQ(client.Open(Path(c.name)), c.status) << c.name;
    EXPECT_EQ(client.Step(kOpGetFirst).status, kStatusNotOpen) << c.name;
  }
  // Looking at a foreign file leaves it as it was.
  EXPECT_EQ(dir_.Read("text.dat"), "RECORD 1\nRECORD 2\n");
  EXPECT_EQ(dir_.Read("empty.dat"), "");
}

TEST_F(SqliteFileTest, AFileSwitchedToARollbackJournalStillSeesOtherWriters) {
  std::vector<std::string> records;
  for (int i = 0; i < 60; ++i) {
    records.push_back(Record("J" + std::to_string(100 + 2 * i), 1));
  }
  OpenWith(records);
  ASSERT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  {
    // What an administrator might do with the sqlite3 shell.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode = DELETE", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  std::unique_ptr<RecordManager> elsewhere = MakeSqliteRecordManager();
  FileClient writer(*elsewhere);
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  ASSERT_EQ(writer.Open(Path()), kStatusOk);
  EXPECT_EQ(client_.Get(kOpGetEqual, "J110").data, Record("J110", 1));
  ASSERT_EQ(client_.Get(kOpGetEqual, "J100").status, kStatusOk);
  ASSERT_EQ(client_.Step(kOpGetNext).data.substr(0, 4), "J102");
  ASSERT_EQ(writer.Insert(Record("J103", 2)), kStatusOk);
  ASSERT_EQ(writer.Get(kOpGetEqual, "J110").status, kStatusOk);
  ASSERT_EQ(writer.Call(kOpUpdate, Record("J110", 5), "", 0, 16).status,
            kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetNext).data, Record("J103", 2));
  EXPECT_EQ(client_.Step(kOpGetNext).data, Record("J104", 1));
  EXPECT_EQ(client_.Get(kOpGetEqual, "J110").data, Record("J110", 5));
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

// New data files, and their journals, get 0666 less the user's umask, as
// every file the program writes: an office sharing its files by group sets
// a umask of 002.
TEST_F(SqliteFileTest, NewFilesFollowTheUmask) {
  const mode_t old_mask = ::umask(002);
  ASSERT_EQ(client_.Create(Path("group.dat"), CodeSpec()), kStatusOk);
  ASSERT_EQ(client_.Open(Path("group.dat")), kStatusOk);
  ASSERT_EQ(client_.Insert(Record("A001", 1)), kStatusOk);
  EXPECT_EQ(ModeOf(Path("group.dat")), 0664u);
  EXPECT_EQ(ModeOf(Path("group.dat-wal")), 0664u);
  EXPECT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  ::umask(027);
  ASSERT_EQ(client_.Create(Path("private.dat"), CodeSpec()), kStatusOk);
  ::umask(old_mask);
  EXPECT_EQ(ModeOf(Path("private.dat")), 0640u);
}

// Sets or clears the immutable attribute (nobody, root included, may
// change the file or the folder's entries); false where the file system
// or the process's rights do not allow it.
bool SetImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return done;
}

// A read-only installation (a read-only share, a CD: neither the files nor
// their folder can be written) opens for reading: the report only reads.
TEST_F(SqliteFileTest, ReadOnlyFilesOpenForReading) {
  std::filesystem::create_directories(dir_.path() + "ro");
  const std::string path = dir_.path() + "ro/codes.dat";
  ASSERT_EQ(client_.Create(path, CodeSpec()), kStatusOk);
  ASSERT_EQ(client_.Open(path), kStatusOk);
  ASSERT_EQ(client_.Insert(Record("A001", 1)), kStatusOk);
  ASSERT_EQ(client_.Insert(Record("B002", 2)), kStatusOk);
  ASSERT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  const bool immutable =
      SetImmutable(path, true) && SetImmutable(dir_.path() + "ro", true);
  if (!immutable) {
    SetImmutable(path, false);
    if (::geteuid() == 0) GTEST_SKIP() << "cannot make files read-only here";
    ::chmod(path.c_str(), 0444);
    ::chmod((dir_.path() + "ro").c_str(), 0555);
  }
  FileClient reader(*engine_);
  EXPECT_EQ(reader.Open(path), kStatusOk);
  EXPECT_EQ(reader.Step(kOpGetFirst).status, kStatusOk);
  Reply next = reader.Step(kOpGetNext);
  EXPECT_EQ(next.status, kStatusOk);
  EXPECT_EQ(next.data, Record("B002", 2));
  EXPECT_EQ(reader.Step(kOpGetNext).status, kStatusEndOfFile);
  // Writing is refused, not pretended.
  EXPECT_NE(reader.Insert(Record("C003", 3)), kStatusOk);
  EXPECT_EQ(reader.Call(kOpClose, "").status, kStatusOk);
  if (immutable) {
    SetImmutable(dir_.path() + "ro", false);
    SetImmutable(path, false);
  } else {
    ::chmod((dir_.path() + "ro").c_str(), 0755);
  }
  EXPECT_EQ(std::filesystem::directory_iterator(dir_.path() + "ro")->path(),
            path);
}

}  // namespace
}  // namespace tarnevos::platform
