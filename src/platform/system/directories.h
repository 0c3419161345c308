#ifndef TARNEVOS_PLATFORM_SYSTEM_DIRECTORIES_H_
#define TARNEVOS_PLATFORM_SYSTEM_DIRECTORIES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Directories the program makes itself: a folder a user names for its
// output, and a private scratch folder for libraries that must be handed a
// native path to write to (the spreadsheet writer). Files inside them are
// still read and written through the file seam (files.h).
namespace tarnevos::platform {

// Creates the directory named by a suite path (its parent must exist) with
// mode 0777 less the umask. True when a directory stands there afterwards,
// whether made now or before; false when it cannot be made or something
// else stands there.
bool MakeDirectory(std::string_view suite_path);

// A fresh directory of mode 0700 under the system's temporary directory
// (TMPDIR, else /tmp), so nobody else can plant or read anything in it.
// Removed with everything in it when the object goes.
class PrivateDirectory {
 public:
  // nullptr when no such directory can be made.
  static std::unique_ptr<PrivateDirectory> Create();
  ~PrivateDirectory();
  PrivateDirectory(const PrivateDirectory&) = delete;
  PrivateDirectory& operator=(const PrivateDirectory&) = delete;

  // Native path, ending with "/".
  const std::string& path() const { return path_; }

 private:
  explicit PrivateDirectory(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

// Raises the process's soft limit of open files to its hard limit (writers
// that keep a temporary file per sheet need many). Returns the soft limit
// in force afterwards; -1 when it cannot be read.
int64_t RaiseOpenFileLimit();

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_SYSTEM_DIRECTORIES_H_
