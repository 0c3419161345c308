#include "platform/system/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system/paths.h"

namespace tarnevos::platform {
namespace {

constexpr size_t kAppendBufferBytes = 64 * 1024;
constexpr mode_t kCreateMode = 0666;     // less the umask
constexpr mode_t kDirectoryMode = 0777;  // less the umask

// Writes all of `bytes` at `offset` (or at the end with offset -1).
bool WriteAll(int fd, int64_t offset, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        offset < 0
            ? ::write(fd, bytes.data() + done, bytes.size() - done)
            : ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                       static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

class PosixFile final : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    Flush();
    ::close(fd_);
  }

  int64_t Size() override {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size) +
           static_cast<int64_t>(buffer_.size());
  }

  bool ReadAt(int64_t offset, size_t count, std::string& out) override {
    if (offset < 0 || !Flush()) return false;
    out.resize(count);
    size_t done = 0;
    while (done < count) {
      const ssize_t n =
          ::pread(fd_, out.data() + done, count - done,
                  static_cast<off_t>(offset + static_cast<int64_t>(done)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  bool WriteAt(int64_t offset, std::string_view bytes) override {
    if (offset < 0 || !Flush()) return false;
    return WriteAll(fd_, offset, bytes);
  }

  bool Append(std::string_view bytes) override {
    if (failed_) return false;
    if (buffer_.size() + bytes.size() > kAppendBufferBytes && !Flush()) {
      return false;
    }
    if (bytes.size() >= kAppendBufferBytes) {
      failed_ = !AppendNow(bytes);
      return !failed_;
    }
    buffer_.append(bytes);
    return true;
  }

  bool Flush() override {
    if (failed_) return false;
    if (buffer_.empty()) return true;
    failed_ = !AppendNow(buffer_);
    buffer_.clear();
    return !failed_;
  }

 private:
  bool AppendNow(std::string_view bytes) {
    if (::lseek(fd_, 0, SEEK_END) < 0) return false;
    return WriteAll(fd_, -1, bytes);
  }

  int fd_;
  std::string buffer_;
  bool failed_ = false;
};

class RealFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(std::string_view suite_path,
                             OpenMode mode) override {
    const std::string native = NativePath(suite_path);
    if (native.empty()) return nullptr;
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::kRead:
        flags |= O_RDONLY;
        break;
      case OpenMode::kUpdate:
        flags |= O_RDWR | O_NOFOLLOW;
        break;
      case OpenMode::kCreate:
        flags |= O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW;
        break;
      case OpenMode::kCreateNew:
        flags |= O_RDWR | O_CREAT | O_EXCL;
        break;
    }
    int fd = -1;
    do {
      fd = ::open(native.c_str(), flags, kCreateMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    struct stat info {};
    // Only regular files (and devices a user names on purpose) are data;
    // a directory opened for reading would fail on every read anyway.
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
  }

  bool WriteFileAtomically(std::string_view suite_path,
                           std::string_view contents) override {
    const std::string native = NativePath(suite_path);
    if (native.empty()) return false;
    static std::atomic<unsigned> counter{0};
    const std::string temporary = native + ".new-" +
                                  std::to_string(::getpid()) + "-" +
                                  std::to_string(counter++);
    const int fd = ::open(temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                          kCreateMode);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, 0, contents);
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), native.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
  }

  bool Remove(std::string_view suite_path) override {
    const std::string native = NativePath(suite_path);
    return !native.empty() && ::unlink(native.c_str()) == 0;
  }

  bool Exists(std::string_view suite_path) override {
    const std::string native = NativePath(suite_path);
    struct stat info {};
    return !native.empty() && ::stat(native.c_str(), &info) == 0;
  }

  bool MakeDirectories(std::string_view suite_path) override {
    std::string native = NativePath(suite_path);
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    if (native.empty()) return false;
    // Each level from the top; levels that exist are passed over.
    for (size_t slash = native.find('/', 1);;
         slash = native.find('/', slash + 1)) {
      const std::string level = native.substr(0, slash);
      if (::mkdir(level.c_str(), kDirectoryMode) != 0 && errno != EEXIST) {
        return false;
      }
      if (slash == std::string::npos) break;
    }
    struct stat info {};
    return ::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }
};

FileSystem*& Replacement() {
  static FileSystem* replacement = nullptr;
  return replacement;
}

// The registered temporary files: native paths in fixed buffers, so that a
// signal handler can read them. A slot's path is valid only while its flag
// is set; the flag is cleared before the path changes.
struct TemporarySlot {
  char path[PATH_MAX];
  volatile sig_atomic_t valid;
};
TemporarySlot g_temporaries[kMaxTemporaryFiles];

void RemoveAtExit() { RemoveTemporaryFiles(); }

}  // namespace

ReadStatus FileSystem::ReadWholeFile(std::string_view suite_path,
                                     size_t max_bytes, std::string& contents) {
  contents.clear();
  std::unique_ptr<File> file = Open(suite_path, OpenMode::kRead);
  if (file == nullptr) return ReadStatus::kCannotOpen;
  const int64_t size = file->Size();
  if (size < 0) return ReadStatus::kReadError;
  const bool too_large = static_cast<uint64_t>(size) > max_bytes;
  const size_t wanted = too_large ? max_bytes : static_cast<size_t>(size);
  if (!file->ReadAt(0, wanted, contents)) {
    contents.clear();
    return ReadStatus::kReadError;
  }
  return too_large ? ReadStatus::kTooLarge : ReadStatus::kOk;
}

FileSystem& RealFiles() {
  static RealFileSystem real;
  return real;
}

FileSystem& Files() {
  return Replacement() != nullptr ? *Replacement() : RealFiles();
}

void RegisterTemporaryFile(std::string_view suite_path) {
  static const bool at_exit = std::atexit(RemoveAtExit) == 0;
  (void)at_exit;
  const std::string native = NativePath(suite_path);
  if (native.empty() || native.size() >= PATH_MAX) return;
  TemporarySlot* free_slot = nullptr;
  for (TemporarySlot& slot : g_temporaries) {
    if (slot.valid && native == slot.path) return;
    if (!slot.valid && free_slot == nullptr) free_slot = &slot;
  }
  if (free_slot == nullptr) return;
  std::memcpy(free_slot->path, native.c_str(), native.size() + 1);
  free_slot->valid = 1;
}

void ForgetTemporaryFile(std::string_view suite_path) {
  const std::string native = NativePath(suite_path);
  for (TemporarySlot& slot : g_temporaries) {
    if (slot.valid && native == slot.path) slot.valid = 0;
  }
}

void RemoveTemporaryFiles() {
  for (TemporarySlot& slot : g_temporaries) {
    if (slot.valid) {
      ::unlink(slot.path);
      slot.valid = 0;
    }
  }
}

void TEST_SetFileSystem(FileSystem* file_system) {
  Replacement() = file_system;
}

}  // namespace tarnevos::platform
