#include "platform/system/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/failing_files.h"
#include "support/scratch.h"

namespace tarnevos::platform {
namespace {

using testing::ScratchDir;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

TEST(FilesTest, ReadWholeFileTellsWhatWentWrong) {
  ScratchDir dir;
  dir.Write("small.txt", "0123456789");
  dir.Write("folder/inside.txt", "x");
  std::string contents = "stale";

  EXPECT_EQ(ReadWholeFile(dir.path() + "small.txt", 100, contents),
            ReadStatus::kOk);
  EXPECT_EQ(contents, "0123456789");
  // Suite paths: backslashes, other spellings.
  EXPECT_EQ(ReadWholeFile(dir.path() + "FOLDER\\Inside.TXT", 100, contents),
            ReadStatus::kOk);
  EXPECT_EQ(contents, "x");
  EXPECT_EQ(ReadWholeFile(dir.path() + "small.txt", 4, contents),
            ReadStatus::kTooLarge);
  EXPECT_EQ(contents, "0123");
  EXPECT_EQ(ReadWholeFile(dir.path() + "missing.txt", 100, contents),
            ReadStatus::kCannotOpen);
  EXPECT_EQ(contents, "");
  EXPECT_EQ(ReadWholeFile(dir.path() + "folder", 100, contents),
            ReadStatus::kCannotOpen);
  EXPECT_EQ(ReadWholeFile("", 100, contents), ReadStatus::kCannotOpen);
}

// Files the program writes never follow a link planted in their place, and
// they get the user's umask.
TEST(FilesTest, WritingNeverFollowsALinkAndHonoursTheUmask) {
  ScratchDir dir;
  dir.Write("target.txt", "precious");
  const std::string link = dir.path() + "WinPush.tmp";
  ASSERT_EQ(::symlink((dir.path() + "target.txt").c_str(), link.c_str()), 0);

  EXPECT_EQ(OpenFile(link, OpenMode::kCreate), nullptr);
  EXPECT_EQ(OpenFile(link, OpenMode::kUpdate), nullptr);
  EXPECT_EQ(OpenFile(link, OpenMode::kCreateNew), nullptr);
  EXPECT_NE(OpenFile(link, OpenMode::kRead), nullptr);  // reading follows
  // An atomic write replaces the link itself.
  EXPECT_TRUE(Files().WriteFileAtomically(link, "new"));
  EXPECT_EQ(dir.Read("target.txt"), "precious");
  EXPECT_EQ(dir.Read("WinPush.tmp"), "new");

  const mode_t old_mask = ::umask(002);
  EXPECT_NE(OpenFile(dir.path() + "group.tmp", OpenMode::kCreate), nullptr);
  EXPECT_TRUE(Files().WriteFileAtomically(dir.path() + "atomic.tmp", "a"));
  ::umask(022);
  EXPECT_NE(OpenFile(dir.path() + "private.tmp", OpenMode::kCreate), nullptr);
  ::umask(old_mask);
  EXPECT_EQ(ModeOf(dir.path() + "group.tmp"), 0664u);
  EXPECT_EQ(ModeOf(dir.path() + "atomic.tmp"), 0664u);
  EXPECT_EQ(ModeOf(dir.path() + "private.tmp"), 0644u);
}

TEST(FilesTest, CreateNewKeepsWhatIsThere) {
  ScratchDir dir;
  dir.Write("KELCALC.TMP", "tape");
  EXPECT_EQ(OpenFile(dir.path() + "KELCALC.TMP", OpenMode::kCreateNew),
            nullptr);
  EXPECT_EQ(dir.Read("KELCALC.TMP"), "tape");
  EXPECT_NE(OpenFile(dir.path() + "fresh.tmp", OpenMode::kCreateNew), nullptr);
  EXPECT_TRUE(dir.Exists("fresh.tmp"));
}

// Appends are buffered; reads, sizes and positioned writes see them.
TEST(FilesTest, AppendedBytesAreSeenBeforeAndAfterFlushing) {
  ScratchDir dir;
  std::unique_ptr<File> file =
      OpenFile(dir.path() + "Browse.tmp", OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Append("abc"));
  EXPECT_TRUE(file->Append(std::string(100000, 'x')));  // beyond the buffer
  EXPECT_TRUE(file->Append("def"));
  EXPECT_EQ(file->Size(), 100006);
  std::string out;
  EXPECT_TRUE(file->ReadAt(100003, 3, out));
  EXPECT_EQ(out, "def");
  EXPECT_TRUE(file->WriteAt(0, "ABC"));
  EXPECT_TRUE(file->Append("ghi"));
  EXPECT_FALSE(file->ReadAt(100007, 3, out));  // past the end
  EXPECT_TRUE(file->Flush());
  file.reset();
  const std::string written = dir.Read("Browse.tmp");
  EXPECT_EQ(written.size(), 100009u);
  EXPECT_EQ(written.substr(0, 3), "ABC");
  EXPECT_EQ(written.substr(written.size() - 6), "defghi");
}

TEST(FilesTest, AtomicWriteLeavesTheOldFileWhenItCannotBeDone) {
  ScratchDir dir;
  EXPECT_FALSE(
      Files().WriteFileAtomically(dir.path() + "missing/KELCALC.TMP", "x"));
  // The rename fails (a folder stands there): it and its contents stay,
  // and no temporary file is left beside it.
  dir.Write("KELCALC.TMP/kept.txt", "old");
  EXPECT_FALSE(Files().WriteFileAtomically(dir.path() + "KELCALC.TMP", "x"));
  EXPECT_EQ(dir.Read("KELCALC.TMP/kept.txt"), "old");
  std::string contents;
  EXPECT_EQ(ReadWholeFile(dir.path() + "KELCALC.TMP", 100, contents),
            ReadStatus::kCannotOpen);
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

// The failing file system of the tests: a file that cannot be opened, and
// a disk that fills after so many bytes.
TEST(FilesTest, FailingFileSystemFailsOnlyTheNamedFiles) {
  ScratchDir dir;
  dir.Write("Orvo.ini", "[Usuari]");
  testing::FailingFileSystem failing;
  failing.FailOpen("orvo.INI");
  failing.FillDiskAfter("kelprint.tmp", 5);
  std::string contents;
  EXPECT_EQ(ReadWholeFile(dir.path() + "Orvo.ini", 100, contents),
            ReadStatus::kCannotOpen);
  EXPECT_EQ(failing.Opens("Orvo.ini"), 1);

  std::unique_ptr<File> file =
      OpenFile(dir.path() + "kelprint.tmp", OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Append("1234"));
  EXPECT_FALSE(file->Append("5678"));
  EXPECT_FALSE(file->Append("9"));
  EXPECT_FALSE(file->Flush());
  file.reset();
  EXPECT_EQ(dir.Read("kelprint.tmp"), "12345");
  EXPECT_FALSE(
      Files().WriteFileAtomically(dir.path() + "kelprint.tmp", "too long"));
  EXPECT_TRUE(Files().WriteFileAtomically(dir.path() + "other.tmp", "fine"));
  EXPECT_EQ(dir.Read("other.tmp"), "fine");
}

}  // namespace
}  // namespace tarnevos::platform
