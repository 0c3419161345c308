#ifndef TARNEVOS_TESTS_SUPPORT_FAILING_FILES_H_
#define TARNEVOS_TESTS_SUPPORT_FAILING_FILES_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "platform/system/files.h"

namespace tarnevos::testing {

// A file system that behaves as the real one except for the files a test
// names: those cannot be opened, or take only so many bytes before every
// further write fails, as on a full disk. Files are named by the end of
// their suite path ("kelprint.tmp", "LOCALE\\TARNEVOS.LNG"), compared
// without regard to case. Installs itself for its lifetime.
class FailingFileSystem : public platform::FileSystem {
 public:
  FailingFileSystem();
  ~FailingFileSystem() override;

  // Opening the file fails in every mode.
  void FailOpen(std::string name) { fail_open_.insert(std::move(name)); }
  // Each opening of the file takes `bytes` bytes, then refuses the rest
  // (0: every write fails). Atomic writes of larger contents fail whole.
  void FillDiskAfter(std::string name, int64_t bytes) {
    capacity_[std::move(name)] = bytes;
  }
  // How many times a file with that name was opened (any mode).
  int Opens(std::string_view name) const;

  std::unique_ptr<platform::File> Open(std::string_view suite_path,
                                       platform::OpenMode mode) override;
  bool WriteFileAtomically(std::string_view suite_path,
                           std::string_view contents) override;
  bool Remove(std::string_view suite_path) override;
  bool Exists(std::string_view suite_path) override;
  // A directory named in FailOpen cannot be made.
  bool MakeDirectories(std::string_view suite_path) override;

 private:
  const std::string* Match(const std::set<std::string>& names,
                           std::string_view path) const;
  const int64_t* Capacity(std::string_view path) const;

  std::set<std::string> fail_open_;
  std::map<std::string, int64_t> capacity_;
  std::map<std::string, int, std::less<>> opens_;
};

}  // namespace tarnevos::testing

#endif  // TARNEVOS_TESTS_SUPPORT_FAILING_FILES_H_
