#include "support/scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "util/codepage.h"

namespace tarnevos::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() : ScratchDir(std::string()) {}

ScratchDir::ScratchDir(const std::string& preferred_base) {
  char* made = nullptr;
  std::string pattern;
  if (!preferred_base.empty()) {
    pattern = preferred_base + "/tarnevos-XXXXXX";
    made = ::mkdtemp(pattern.data());
  }
  if (made == nullptr) {
    pattern = (fs::temp_directory_path() / "tarnevos-XXXXXX").string();
    made = ::mkdtemp(pattern.data());
  }
  path_ = std::string(made == nullptr ? "." : made) + "/";
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void ScratchDir::Write(std::string_view relative,
                       std::string_view bytes) const {
  fs::path file = fs::path(path_) / fs::path(std::string(relative));
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ScratchDir::Read(std::string_view relative) const {
  std::ifstream in(fs::path(path_) / fs::path(std::string(relative)),
                   std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ScratchDir::Exists(std::string_view relative) const {
  return fs::exists(fs::path(path_) / fs::path(std::string(relative)));
}

ScopedEnv::ScopedEnv(std::initializer_list<
                     std::pair<const std::string, std::optional<std::string>>>
                         values) {
  for (const auto& [name, value] : values) {
    const char* old = std::getenv(name.c_str());
    saved_[name] =
        old == nullptr ? std::nullopt : std::optional<std::string>(old);
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
}

ScopedEnv::~ScopedEnv() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
}

std::string SourceDir() {
  const char* dir = std::getenv("TARNEVOS_SOURCE_DIR");
  return dir == nullptr ? std::string(TARNEVOS_SOURCE_DIR_DEFAULT)
                        : std::string(dir);
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string AsInstalled(const std::string& utf8) {
  std::string lines;
  for (char c : Cp850(utf8)) {
    if (c == '\r') continue;
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return lines;
}

}  // namespace tarnevos::testing
