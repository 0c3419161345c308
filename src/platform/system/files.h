#ifndef TARNEVOS_PLATFORM_SYSTEM_FILES_H_
#define TARNEVOS_PLATFORM_SYSTEM_FILES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The file seam: every file the program reads or writes (settings, form,
// language and help files, dictionaries, the print file and the temporary
// files of the console) is reached through the FileSystem below, named by a
// suite path ("\" separators, see paths.h) that is converted to a native
// path inside it. Tests put a failing file system in its place (cannot open,
// cannot write, disk full after N bytes) instead of planting devices.
//
// Files the program writes are created with mode 0666 less the user's
// umask, and a symbolic link standing where such a file is to be created or
// rewritten is never followed: the open fails instead, so that a link
// planted in a shared directory cannot make the program overwrite another
// file.
namespace tarnevos::platform {

// An open file. Offsets are 0-based. Not copyable; closed when destroyed
// (what Append buffered is written out first, and lost silently if that
// fails: call Flush to know).
class File {
 public:
  virtual ~File() = default;
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // The file's size in bytes (buffered appends included); -1 when unknown.
  virtual int64_t Size() = 0;
  // Exactly `count` bytes from `offset` into `out`; false when the file
  // ends first or cannot be read (`out` is then unspecified).
  virtual bool ReadAt(int64_t offset, size_t count, std::string& out) = 0;
  // Writes the bytes at `offset`, extending the file when needed; false
  // when not all of them could be written.
  virtual bool WriteAt(int64_t offset, std::string_view bytes) = 0;
  // Adds the bytes at the end, buffered. False when they, or bytes
  // buffered before them, could not be written; the file stays failed.
  virtual bool Append(std::string_view bytes) = 0;
  // Writes out what Append buffered; false when that failed (now or
  // earlier).
  virtual bool Flush() = 0;
};

enum class OpenMode {
  kRead,       // an existing file, read only
  kUpdate,     // an existing file, read and write; never follows a link
  kCreate,     // a new empty file (an existing one is emptied), read and
               // write; never follows a link
  kCreateNew,  // a new empty file, read and write; fails when anything
               // (a link included) already stands at the path
};

enum class ReadStatus {
  kOk,
  kCannotOpen,  // missing, a directory, no permission
  kTooLarge,    // larger than the cap: `contents` holds the first bytes
  kReadError,   // opened but not read to the end
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens a file; nullptr when it cannot be opened (in kRead and kUpdate
  // modes a missing file, a directory, a link in kUpdate mode; in kCreate
  // mode a missing folder, a link, no permission).
  virtual std::unique_ptr<File> Open(std::string_view suite_path,
                                     OpenMode mode) = 0;
  // Replaces the file's contents as a whole: written under a temporary name
  // in the same folder, then renamed over the file, so that readers see the
  // old or the new contents, never a mix. False (the old file untouched)
  // when it could not be done.
  virtual bool WriteFileAtomically(std::string_view suite_path,
                                   std::string_view contents) = 0;
  // Removes a file; false when it could not be removed (missing included).
  virtual bool Remove(std::string_view suite_path) = 0;
  // True when a file or directory exists at the path.
  virtual bool Exists(std::string_view suite_path) = 0;
  // Creates the directory and any missing directory above it (mode 0777
  // less the umask). True when a directory stands at the path afterwards;
  // false when something else stands there or one could not be made.
  virtual bool MakeDirectories(std::string_view suite_path) = 0;

  // The whole file, at most `max_bytes` of it. Built on Open.
  ReadStatus ReadWholeFile(std::string_view suite_path, size_t max_bytes,
                           std::string& contents);
};

// The file system in use: the operating system's unless a test replaced it.
FileSystem& Files();
// Replaces the file system (nullptr restores the real one). The caller
// keeps ownership and keeps it alive while it is in use.
void TEST_SetFileSystem(FileSystem* file_system);

// The operating system's file system, for wrappers that delegate to it.
FileSystem& RealFiles();

// Temporary files that must not outlive the program (the window stack, a
// lookup list's lines). Their owner registers each when it creates it and
// forgets it when it removes it; files still registered when the program
// ends by exit or by a signal (the terminal console's handlers call
// RemoveTemporaryFiles) are removed then. Registering a registered file
// does nothing; at most kMaxTemporaryFiles are kept (further ones are not
// registered).
inline constexpr int kMaxTemporaryFiles = 8;
void RegisterTemporaryFile(std::string_view suite_path);
void ForgetTemporaryFile(std::string_view suite_path);
// Removes the registered files. Async-signal-safe.
void RemoveTemporaryFiles();

// Shorthands for Files().
inline ReadStatus ReadWholeFile(std::string_view suite_path, size_t max_bytes,
                                std::string& contents) {
  return Files().ReadWholeFile(suite_path, max_bytes, contents);
}
inline std::unique_ptr<File> OpenFile(std::string_view suite_path,
                                      OpenMode mode) {
  return Files().Open(suite_path, mode);
}

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_SYSTEM_FILES_H_
