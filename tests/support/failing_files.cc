#include "support/failing_files.h"

#include <algorithm>
#include <cctype>

namespace tarnevos::testing {
namespace {

bool EndsWithIgnoringCase(std::string_view path, std::string_view name) {
  if (name.size() > path.size()) return false;
  return std::equal(name.rbegin(), name.rend(), path.rbegin(),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

// A real file whose writes stop after a number of bytes.
class FillingFile final : public platform::File {
 public:
  FillingFile(std::unique_ptr<platform::File> real, int64_t capacity)
      : real_(std::move(real)), left_(capacity) {}

  int64_t Size() override { return real_->Size(); }
  bool ReadAt(int64_t offset, size_t count, std::string& out) override {
    return real_->ReadAt(offset, count, out);
  }
  bool WriteAt(int64_t offset, std::string_view bytes) override {
    const std::string_view fitting = Take(bytes);
    return real_->WriteAt(offset, fitting) && fitting.size() == bytes.size();
  }
  bool Append(std::string_view bytes) override {
    const std::string_view fitting = Take(bytes);
    const bool written = real_->Append(fitting);
    failed_ = failed_ || fitting.size() != bytes.size();
    return written && !failed_;
  }
  bool Flush() override { return real_->Flush() && !failed_; }

 private:
  std::string_view Take(std::string_view bytes) {
    const int64_t n = std::min<int64_t>(left_, bytes.size());
    left_ -= n;
    return bytes.substr(0, static_cast<size_t>(n));
  }

  std::unique_ptr<platform::File> real_;
  int64_t left_;
  bool failed_ = false;
};

}  // namespace

FailingFileSystem::FailingFileSystem() { platform::TEST_SetFileSystem(this); }
FailingFileSystem::~FailingFileSystem() {
  platform::TEST_SetFileSystem(nullptr);
}

const std::string* FailingFileSystem::Match(const std::set<std::string>& names,
                                            std::string_view path) const {
  for (const std::string& name : names) {
    if (EndsWithIgnoringCase(path, name)) return &name;
  }
  return nullptr;
}

const int64_t* FailingFileSystem::Capacity(std::string_view path) const {
  for (const auto& [name, bytes] : capacity_) {
    if (EndsWithIgnoringCase(path, name)) return &bytes;
  }
  return nullptr;
}

int FailingFileSystem::Opens(std::string_view name) const {
  int count = 0;
  for (const auto& [path, n] : opens_) {
    if (EndsWithIgnoringCase(path, name)) count += n;
  }
  return count;
}

std::unique_ptr<platform::File> FailingFileSystem::Open(
    std::string_view suite_path, platform::OpenMode mode) {
  ++opens_[std::string(suite_path)];
  if (Match(fail_open_, suite_path) != nullptr) return nullptr;
  std::unique_ptr<platform::File> real =
      platform::RealFiles().Open(suite_path, mode);
  const int64_t* capacity = Capacity(suite_path);
  if (real == nullptr || capacity == nullptr) return real;
  return std::make_unique<FillingFile>(std::move(real), *capacity);
}

bool FailingFileSystem::WriteFileAtomically(std::string_view suite_path,
                                            std::string_view contents) {
  if (Match(fail_open_, suite_path) != nullptr) return false;
  const int64_t* capacity = Capacity(suite_path);
  if (capacity != nullptr && *capacity < static_cast<int64_t>(contents.size()))
    return false;
  return platform::RealFiles().WriteFileAtomically(suite_path, contents);
}

bool FailingFileSystem::Remove(std::string_view suite_path) {
  return platform::RealFiles().Remove(suite_path);
}

bool FailingFileSystem::Exists(std::string_view suite_path) {
  return platform::RealFiles().Exists(suite_path);
}

bool FailingFileSystem::MakeDirectories(std::string_view suite_path) {
  if (Match(fail_open_, suite_path) != nullptr) return false;
  return platform::RealFiles().MakeDirectories(suite_path);
}

}  // namespace tarnevos::testing
