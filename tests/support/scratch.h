#ifndef TARNEVOS_TESTS_SUPPORT_SCRATCH_H_
#define TARNEVOS_TESTS_SUPPORT_SCRATCH_H_

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tarnevos::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes. path() ends with "/", so suite
// paths can be built by concatenation as the program does.
class ScratchDir {
 public:
  ScratchDir();
  // Under `preferred_base` when that is a writable folder (a memory file
  // system such as /dev/shm), else as above.
  explicit ScratchDir(const std::string& preferred_base);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes a file below the directory (creating folders), bytes as given.
  void Write(std::string_view relative, std::string_view bytes) const;
  // Reads a file below the directory; "" when missing.
  std::string Read(std::string_view relative) const;
  bool Exists(std::string_view relative) const;

 private:
  std::string path_;
};

// Sets environment variables for the life of the object and puts the old
// values back afterwards. A std::nullopt value unsets the variable.
class ScopedEnv {
 public:
  ScopedEnv(std::initializer_list<
            std::pair<const std::string, std::optional<std::string>>>
                values);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// The bytes of a file; "" when it cannot be read.
std::string ReadWhole(const std::string& path);

// A demo text file as an installation holds it: CP850 with CR LF.
std::string AsInstalled(const std::string& utf8);

// The source tree (for golden files and demo sources).
std::string SourceDir();

}  // namespace tarnevos::testing

#endif  // TARNEVOS_TESTS_SUPPORT_SCRATCH_H_
