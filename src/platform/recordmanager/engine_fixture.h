#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_ENGINE_FIXTURE_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_ENGINE_FIXTURE_H_

// The record manager's tests that hold for every engine run once per
// engine: on SQLite files in a scratch directory, and on the test
// PostgreSQL server in a scratch schema whose root is that directory.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/recordmanager/record_manager.h"
#include "platform/recordmanager/test_files.h"
#include "support/scratch.h"
#include "support/test_server.h"

namespace tarnevos::platform::record_test {

struct EngineKind {
  const char* name;
  bool server;
};

inline constexpr EngineKind kEngineKinds[] = {{"Sqlite", false},
                                              {"Postgres", true}};

inline std::string EngineName(
    const ::testing::TestParamInfo<EngineKind>& info) {
  return info.param.name;
}

class EngineFixture : public ::testing::TestWithParam<EngineKind> {
 protected:
  void SetUp() override {
    if (!server()) return;
    std::string why;
    std::optional<testing::TestServer> found = testing::SharedTestServer(&why);
    if (!found) {
      GTEST_SKIP() << why;
    }
    test_server_ = *found;
    schema_.emplace();
    settings_ = {found->conninfo, schema_->name(), dir_.path()};
  }

  bool server() const { return GetParam().server; }

  // A new engine of the kind under test: its own connection, its own files.
  std::unique_ptr<RecordManager> NewEngine() const {
    return server() ? MakePostgresRecordManager(settings_)
                    : MakeSqliteRecordManager();
  }

  // A file name below the root, as the suite spells it.
  std::string Path(const std::string& name = "codes.dat") const {
    return dir_.path() + name;
  }

  // Whether a data file exists (opening it through a separate engine).
  bool Exists(const std::string& path) const {
    std::unique_ptr<RecordManager> engine = NewEngine();
    FileClient probe(*engine);
    int16_t status = probe.Open(path);
    if (status == kStatusOk) probe.Call(kOpClose, "");
    return status != kStatusFileNotFound;
  }

  // Makes the reads of `engine` see every commit of other connections made
  // so far. SQLite readers see them at once: nothing is done for them, so
  // the tests check that they do. Server readers learn of them by
  // notification a moment later; tests of that are separate.
  void SeeOtherCommits(RecordManager& engine) const {
    if (server()) engine.Refresh();
  }

  testing::ScratchDir dir_;
  std::optional<testing::ScratchSchema> schema_;
  std::optional<testing::TestServer> test_server_;
  ServerSettings settings_;
};

}  // namespace tarnevos::platform::record_test

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_ENGINE_FIXTURE_H_
