#include "keldades/file_set.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tarnevos::keldades {
namespace {

namespace fs = std::filesystem;

constexpr const char* kWorkingInfix = ".keldades-";
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kNewLockSuffix = ".lock.new";
constexpr const char* kJournalSuffixes[] = {"-wal", "-shm", "-journal"};
// What the data tool's earlier versions built beside each file.
constexpr const char* kOldTemporarySuffix = ".keldades-new";

// --- File-system operations, each one a step that tests can fail. --------

int g_fail_at = 0;
int g_operations = 0;

bool Injected() {
  ++g_operations;
  if (g_fail_at > 0 && g_operations == g_fail_at) {
    errno = EIO;
    return true;
  }
  return false;
}

int MakeFolder(const std::string& path) {
  return Injected() ? -1 : ::mkdir(path.c_str(), 0777);
}
int OpenLock(const std::string& path) {
  if (Injected()) return -1;
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
int Lock(int fd) { return Injected() ? -1 : ::flock(fd, LOCK_EX | LOCK_NB); }
int Rename(const std::string& from, const std::string& to,
           unsigned flags = RENAME_NOREPLACE) {
  if (Injected()) return -1;
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags);
}
int Link(const std::string& from, const std::string& to) {
  return Injected() ? -1 : ::link(from.c_str(), to.c_str());
}
int Unlink(const std::string& path) {
  return Injected() ? -1 : ::unlink(path.c_str());
}
int RemoveFolder(const std::string& path) {
  return Injected() ? -1 : ::rmdir(path.c_str());
}
int WriteRecord(int fd, const std::string& text) {
  if (Injected()) return -1;
  if (::ftruncate(fd, 0) != 0) return -1;
  return ::pwrite(fd, text.data(), text.size(), 0) ==
                 static_cast<ssize_t>(text.size())
             ? 0
             : -1;
}
// Puts a file's or folder's contents and entries on disk.
int Sync(const std::string& path) {
  if (Injected()) return -1;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  const int result = ::fsync(fd);
  ::close(fd);
  return result;
}

// --- Helpers. -------------------------------------------------------------

std::string ErrorText() { return std::strerror(errno); }

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// True for a file of the set or one of its journals.
bool InSet(const std::string& entry, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (entry == name) return true;
    for (const char* suffix : kJournalSuffixes) {
      if (entry == name + suffix) return true;
    }
  }
  return false;
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool known = false;
};

Identity IdentityOf(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return {};
  return {info.st_dev, info.st_ino, true};
}

std::string IdentityText(const Identity& identity) {
  return std::to_string(identity.device) + " " +
         std::to_string(identity.inode) + "\n";
}

// The folder a lock file says held the old set once the two were
// exchanged (written just before the exchange).
Identity RecordedOldFolder(int lock_fd) {
  char text[64] = {};
  const ssize_t n = ::pread(lock_fd, text, sizeof text - 1, 0);
  if (n <= 0) return {};
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (std::sscanf(text, "%llu %llu", &device, &inode) != 2) return {};
  return {static_cast<dev_t>(device), static_cast<ino_t>(inode), true};
}

// The data folder as a real path (a link to it is followed, so that the
// working folder is made on the same file system), without a trailing "/".
std::string ResolvedFolder(const std::string& data_folder) {
  std::string folder = data_folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (char* real = ::realpath(folder.c_str(), nullptr)) {
    folder = real;
    std::free(real);
  }
  return folder;
}

std::string ParentOf(const std::string& folder) {
  const size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : folder.substr(0, slash);
}

std::string BaseOf(const std::string& folder) {
  const size_t slash = folder.rfind('/');
  return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// Moves the entries of `from` that are not part of the set and that the
// data folder lacks back into it. Returns the names it could not move.
std::vector<std::string> GiveBackOthers(const std::string& from,
                                        const std::string& data_folder,
                                        const std::vector<std::string>& names) {
  std::vector<std::string> stuck;
  for (const std::string& entry : FolderEntries(from)) {
    if (InSet(entry, names) || Exists(Join(data_folder, entry))) continue;
    if (Rename(Join(from, entry), Join(data_folder, entry)) != 0) {
      stuck.push_back(entry);
    }
  }
  return stuck;
}

// Removes the old set from the folder that holds it after the exchange.
// Entries of other programs are removed only where they are links to the
// same files in the data folder (carried over); the others are kept, not
// being the switch's to remove. Returns false when the folder could not
// be removed whole.
bool RemoveOldSet(const std::string& folder, const std::string& data_folder,
                  const std::vector<std::string>& names) {
  bool whole = true;
  for (const std::string& entry : FolderEntries(folder)) {
    const std::string path = Join(folder, entry);
    if (!InSet(entry, names)) {
      const Identity here = IdentityOf(path);
      const Identity there = IdentityOf(Join(data_folder, entry));
      const bool carried = here.known && there.known &&
                           here.device == there.device &&
                           here.inode == there.inode;
      if (!carried) {
        whole = false;
        continue;
      }
    }
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(path, ec))) {
      fs::remove_all(path, ec);
      if (ec) whole = false;
    } else if (Unlink(path) != 0) {
      whole = false;
    }
  }
  return whole && RemoveFolder(folder) == 0;
}

// The leftovers beside one data folder; see CleanLeftovers.
int CleanFolderLeftovers(const std::string& data_folder,
                         const std::vector<std::string>& names) {
  const std::string parent = ParentOf(data_folder);
  const std::string prefix = BaseOf(data_folder) + kWorkingInfix;
  int removed = 0;
  for (const std::string& entry : FolderEntries(parent)) {
    if (entry.compare(0, prefix.size(), prefix) != 0 ||
        EndsWith(entry, kLockSuffix) || EndsWith(entry, kNewLockSuffix)) {
      continue;
    }
    const std::string folder = Join(parent, entry);
    const std::string lock = folder + kLockSuffix;
    const int fd = ::open(lock.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);  // a switch at work
      continue;
    }
    // Without its lock file a working folder is no longer anybody's: a
    // switch puts the lock in place before it makes the folder and removes
    // the folder before the lock.
    const Identity old_folder = fd >= 0 ? RecordedOldFolder(fd) : Identity{};
    const Identity here = IdentityOf(folder);
    bool gone = false;
    if (old_folder.known && here.known && old_folder.device == here.device &&
        old_folder.inode == here.inode) {
      // The old set after the exchange: other programs' files go back.
      GiveBackOthers(folder, data_folder, names);
      gone = RemoveOldSet(folder, data_folder, names);
    } else {
      // A new set that never became the data: all of it is the switch's.
      std::error_code ec;
      fs::remove_all(folder, ec);
      gone = !ec;
    }
    if (gone) {
      ++removed;
      if (fd >= 0) Unlink(lock);
    }
    if (fd >= 0) ::close(fd);
  }
  // Lock files whose folder is gone.
  for (const std::string& entry : FolderEntries(parent)) {
    if (entry.compare(0, prefix.size(), prefix) != 0) continue;
    std::string folder;
    if (EndsWith(entry, kNewLockSuffix)) {
      folder = entry.substr(0, entry.size() - std::strlen(kNewLockSuffix));
    } else if (EndsWith(entry, kLockSuffix)) {
      folder = entry.substr(0, entry.size() - std::strlen(kLockSuffix));
    } else {
      continue;
    }
    if (Exists(Join(parent, folder))) continue;
    const std::string lock = Join(parent, entry);
    const int fd = ::open(lock.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && Unlink(lock) == 0) ++removed;
    ::close(fd);
  }
  // The earlier versions' temporary files inside the data folder.
  for (const std::string& name : names) {
    const std::string temporary = Join(data_folder, name) + kOldTemporarySuffix;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      if (Exists(temporary + suffix) && Unlink(temporary + suffix) == 0 &&
          *suffix == '\0') {
        ++removed;
      }
    }
  }
  return removed;
}

}  // namespace

int CleanLeftovers(const std::string& data_folder,
                   const std::vector<std::string>& names) {
  return CleanFolderLeftovers(ResolvedFolder(data_folder), names);
}

FileSetSwitch::~FileSetSwitch() {
  if (!committed_) Abandon();
}

bool FileSetSwitch::Begin(const std::string& data_folder,
                          const std::vector<std::string>& names,
                          std::string& error) {
  Abandon();
  committed_ = false;
  data_folder_ = ResolvedFolder(data_folder);
  names_ = names;
  CleanFolderLeftovers(data_folder_, names_);

  working_ = Join(ParentOf(data_folder_), BaseOf(data_folder_) + kWorkingInfix +
                                              std::to_string(::getpid()));
  lock_path_ = working_ + kLockSuffix;
  // The lock is taken under another name and put in place already held,
  // so that a cleaner never finds it free while this switch lives.
  const std::string new_lock = working_ + kNewLockSuffix;
  ::unlink(new_lock.c_str());
  lock_fd_ = OpenLock(new_lock);
  if (lock_fd_ < 0 || Lock(lock_fd_) != 0 ||
      Rename(new_lock, lock_path_, 0) != 0) {
    error = working_ + ": cannot be locked (" + ErrorText() + ")";
    if (lock_fd_ >= 0) ::close(lock_fd_);
    lock_fd_ = -1;
    ::unlink(new_lock.c_str());
    working_.clear();
    return false;
  }
  if (MakeFolder(working_) != 0) {
    error = working_ + ": cannot create the folder (" + ErrorText() + ")";
    Abandon();
    return false;
  }
  return true;
}

bool FileSetSwitch::Commit(std::string& warning, std::string& error) {
  warning.clear();
  if (working_.empty()) {
    error = "no new set of files was prepared";
    return false;
  }
  // The new files and their folder on disk before they become the data.
  for (const std::string& entry : FolderEntries(working_)) {
    if (Sync(Join(working_, entry)) != 0) {
      error = Join(working_, entry) + ": cannot be written to disk (" +
              ErrorText() + ")";
      Abandon();
      return false;
    }
  }

  const Identity old_folder = IdentityOf(data_folder_);
  if (!old_folder.known) {
    // No data folder yet: the new one takes its name.
    if (Sync(working_) != 0 || Rename(working_, data_folder_) != 0) {
      error = data_folder_ + ": cannot be created (" + ErrorText() + ")";
      Abandon();
      return false;
    }
  } else {
    // Other programs' files are carried over as links to the same files;
    // any that cannot be linked are moved back after the exchange.
    for (const std::string& entry : FolderEntries(data_folder_)) {
      if (InSet(entry, names_)) continue;
      const std::string path = Join(data_folder_, entry);
      struct stat info;
      if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        Link(path, Join(working_, entry));
      }
    }
    if (Sync(working_) != 0 ||
        WriteRecord(lock_fd_, IdentityText(old_folder)) != 0 ||
        Rename(working_, data_folder_, RENAME_EXCHANGE) != 0) {
      error = data_folder_ + ": the new files cannot be put in place (" +
              ErrorText() + ")";
      Abandon();
      return false;
    }
  }
  committed_ = true;

  // From here on the new set is the data; what follows only tidies up.
  std::vector<std::string> problems;
  if (Sync(ParentOf(data_folder_)) != 0) {
    problems.push_back(ParentOf(data_folder_) +
                       " could not be written to disk (" + ErrorText() + ")");
  }
  if (old_folder.known) {
    const std::vector<std::string> stuck =
        GiveBackOthers(working_, data_folder_, names_);
    for (const std::string& entry : stuck) {
      problems.push_back(Join(working_, entry) +
                         " could not be moved back to " + data_folder_);
    }
    if (!RemoveOldSet(working_, data_folder_, names_)) {
      problems.push_back("the old files could not all be removed from " +
                         working_);
    }
  }
  // Without its lock file a folder left behind is cleaned by the next run.
  Unlink(lock_path_);
  ::close(lock_fd_);
  lock_fd_ = -1;
  for (const std::string& problem : problems) {
    warning += (warning.empty() ? "" : "; ") + problem;
  }
  return true;
}

void FileSetSwitch::Abandon() {
  if (committed_ || lock_fd_ < 0) return;
  if (!working_.empty() && Exists(working_)) {
    std::error_code ec;
    fs::remove_all(working_, ec);
  }
  ::unlink(lock_path_.c_str());
  ::close(lock_fd_);
  lock_fd_ = -1;
  working_.clear();
}

int TEST_FailFileSetOperation(int n) {
  const int made = g_operations;
  g_operations = 0;
  g_fail_at = n;
  return made;
}

}  // namespace tarnevos::keldades
