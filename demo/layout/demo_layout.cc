// Lays out one file of the demo installation (see conversions.h):
//
//   demo_layout text SOURCE TARGET   UTF-8 text -> CP850 with CR LF
//   demo_layout help SOURCE TARGET   help text -> records of 80 bytes
//
// A failure prints the file and line and ends with exit code 1, which stops
// the build.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "layout/conversions.h"

namespace {

namespace fs = std::filesystem;

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream contents;
  contents << in.rdbuf();
  bytes = contents.str();
  return true;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::error_code ignored;
  fs::path target(path);
  if (target.has_parent_path()) {
    fs::create_directories(target.parent_path(), ignored);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s text|help SOURCE TARGET\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1], source = argv[2], target = argv[3];
  std::string bytes;
  if (!ReadFile(source, bytes)) {
    std::fprintf(stderr, "%s: cannot be read\n", source.c_str());
    return 1;
  }
  std::string converted, error;
  bool done = false;
  if (mode == "text") {
    done = tarnevos::demo::ConvertText(source, bytes, converted, error);
  } else if (mode == "help") {
    done = tarnevos::demo::ConvertHelp(source, bytes, converted, error);
  } else {
    error = "unknown mode " + mode;
  }
  if (!done) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (!WriteFile(target, converted)) {
    std::fprintf(stderr, "%s: cannot be written\n", target.c_str());
    return 1;
  }
  return 0;
}
