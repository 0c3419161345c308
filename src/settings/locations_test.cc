#include "settings/locations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>

#include "platform/system/files.h"
#include "platform/system/system.h"
#include "settings/ini_reader.h"
#include "support/run_state.h"
#include "support/scratch.h"

namespace tarnevos {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

int ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0
             ? static_cast<int>(info.st_mode & 0777)
             : -1;
}

// Runs in a scratch folder as the current one, with the suite's variables
// and the session's defaults pointed into the scratch folder.
class LocationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    char buffer[4096];
    old_dir_ = ::getcwd(buffer, sizeof buffer) ? buffer : ".";
    ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(::chdir(old_dir_.c_str()), 0);
    testing::ResetRunState();
  }

  ScratchDir dir_;
  ScopedEnv env_{{"KELROOT", std::nullopt},
                 {"KELTMP", std::nullopt},
                 {"KELEXE", std::nullopt},
                 {"XDG_RUNTIME_DIR", std::nullopt},
                 {"HOME", dir_.path() + "home"}};
  std::string old_dir_;
};

TEST_F(LocationsTest, TheInstallationComesFromOptionVariableOrCurrentFolder) {
  dir_.Write("by-option/Orvo.ini", "");
  dir_.Write("ORVO.INI", "");  // the current folder's, in other letters
  {
    ScopedEnv env{{"KELROOT", dir_.path() + "by-variable"}};
    LocationRequest request;
    request.root_option = "by-option";  // relative to the current folder
    Locations found = ResolveLocations(request);
    EXPECT_EQ(found.root_dir, dir_.path() + "by-option/");
    EXPECT_EQ(found.root_origin, LocationOrigin::kOption);

    // The suite's variable is taken as given, without looking into it.
    found = ResolveLocations({});
    EXPECT_EQ(found.root_dir, dir_.path() + "by-variable/");
    EXPECT_EQ(found.root_origin, LocationOrigin::kVariable);
  }
  Locations found = ResolveLocations({});
  EXPECT_EQ(found.root_dir, dir_.path());
  EXPECT_EQ(found.root_origin, LocationOrigin::kDefault);
  EXPECT_TRUE(found.root_problem.empty());
}

TEST_F(LocationsTest, AMissingInstallationIsExplained) {
  dir_.Write("empty/readme.txt", "");
  const struct {
    std::string option;
    std::string problem;
  } cases[] = {
      {"", dir_.path().substr(0, dir_.path().size() - 1) +
               " holds no Orvo.ini, and neither --root nor KELROOT names an "
               "installation"},
      {"nowhere", "--root nowhere: no such folder"},
      {dir_.path() + "empty/", "--root " + dir_.path() +
                                   "empty/: not an installation (it holds no "
                                   "Orvo.ini)"},
  };
  for (const auto& c : cases) {
    LocationRequest request;
    request.root_option = c.option;
    const Locations found = ResolveLocations(request);
    EXPECT_EQ(found.root_origin, LocationOrigin::kNone) << c.option;
    EXPECT_TRUE(found.root_dir.empty());
    EXPECT_EQ(found.root_problem, c.problem);
    const std::string message = MissingInstallationMessage("tarnevos", found);
    EXPECT_EQ(message.find("tarnevos: no installation found: " + c.problem), 0u)
        << message;
    EXPECT_NE(message.find("keldades new FOLDER"), std::string::npos);
    EXPECT_NE(message.find("tarnevos --root FOLDER"), std::string::npos);
  }
}

TEST_F(LocationsTest, TheSessionComesFromOptionVariableOrAPrivateFolder) {
  LocationRequest request;
  request.session_option = dir_.path() + "mine";
  {
    ScopedEnv env{{"KELTMP", dir_.path() + "suite/"}};
    Locations found = ResolveLocations(request);
    EXPECT_EQ(found.session_dir, dir_.path() + "mine/");
    EXPECT_EQ(found.session_origin, LocationOrigin::kOption);
    found = ResolveLocations({});
    EXPECT_EQ(found.session_dir, dir_.path() + "suite/");
    EXPECT_EQ(found.session_origin, LocationOrigin::kVariable);
  }
  // The runtime folder when it is an absolute, existing folder; else the
  // state folder in the home.
  dir_.Write("run/user/placeholder", "");
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {dir_.path() + "run/user", dir_.path() + "run/user/tarnevos/"},
      {dir_.path() + "run/missing",
       dir_.path() + "home/.local/state/tarnevos/"},
      {"run/user", dir_.path() + "home/.local/state/tarnevos/"},
      {std::nullopt, dir_.path() + "home/.local/state/tarnevos/"},
  };
  for (const auto& [runtime, expected] : cases) {
    ScopedEnv env{{"XDG_RUNTIME_DIR", runtime}};
    EXPECT_EQ(DefaultSessionDirectory(), expected);
    const Locations found = ResolveLocations({});
    EXPECT_EQ(found.session_dir, expected);
    EXPECT_EQ(found.session_origin, LocationOrigin::kDefault);
  }
}

TEST_F(LocationsTest, ThePrintProgramIsTheFirstCandidateThatHoldsIt) {
  dir_.Write("second/kelprint", "#!/bin/sh\n");  // found in any letters
  LocationRequest request;
  request.program_dirs = {dir_.path() + "first/", dir_.path() + "second/",
                          dir_.path() + "third/"};
  Locations found = ResolveLocations(request);
  EXPECT_EQ(found.program_dir, dir_.path() + "second/");
  EXPECT_EQ(found.program_origin, LocationOrigin::kDefault);

  request.program_dirs = {dir_.path() + "first/", dir_.path() + "third/"};
  EXPECT_EQ(ResolveLocations(request).program_dir, dir_.path() + "first/");

  ScopedEnv env{{"KELEXE", "/opt/suite/BIN"}};
  found = ResolveLocations(request);
  EXPECT_EQ(found.program_dir, "/opt/suite/BIN/");
  EXPECT_EQ(found.program_origin, LocationOrigin::kVariable);

  ExportLocations(found);
  EXPECT_EQ(platform::GetEnv("KELEXE"), "/opt/suite/BIN/");
  EXPECT_EQ(platform::GetEnv("KELROOT"), "");  // nothing found, nothing set
}

TEST_F(LocationsTest, APrivateSessionIsMadeWithItsSettingsFiles) {
  dir_.Write("ROOT/Orvo.ini", "[Usuari]\r\nIdioma=SPA\r\n");
  ScopedEnv env{{"KELROOT", dir_.path() + "ROOT/"}};
  Locations locations = ResolveLocations({});
  ASSERT_EQ(locations.session_origin, LocationOrigin::kDefault);
  const std::string session = locations.session_dir;
  std::string error;
  ASSERT_TRUE(PrepareSession(locations, error)) << error;
  EXPECT_EQ(ModeOf(session), 0700);
  EXPECT_EQ(ModeOf(dir_.path() + "home/.local"), 0700);

  const std::string sessio = session + "Sessio.ini";
  const std::string terminal = session + "OrvoTerm.ini";
  EXPECT_EQ(ReadSetting(sessio, "Menu", "NomMenu"), "TARNEVOS");
  EXPECT_EQ(ReadSetting(sessio, "Menu", "Titol"),
            "COMUNIDADES DE PROPIETARIOS");
  EXPECT_EQ(ReadSetting(sessio, "Terminal", "Dir"), "");
  EXPECT_EQ(ReadSetting(terminal, "Sistema", "Sortida"), "PANTALLA");
  EXPECT_EQ(ReadSetting(terminal, "Sistema", "Data"), "");
  EXPECT_EQ(ReadSetting(terminal, "Pantalla", "Col0"), "15000700000700070007");
  // Every key line has a comment line above it.
  for (const std::string& text :
       {DefaultSessionSettings("CAT"), DefaultTerminalSettings()}) {
    std::string previous;
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find("\r\n", start);
      const std::string line = text.substr(start, end - start);
      if (line.find('=') != std::string::npos && line[0] != ';') {
        EXPECT_EQ(previous.substr(0, 1), ";") << line;
      }
      previous = line;
      start = end + 2;
    }
  }

  // What the user changed stays; a folder opened to others is narrowed.
  ASSERT_EQ(::chmod(session.c_str(), 0755), 0);
  const std::string edited = "[Sistema]\r\nSortida=PDF\r\n";
  {
    std::unique_ptr<platform::File> file =
        platform::OpenFile(terminal, platform::OpenMode::kCreate);
    ASSERT_TRUE(file && file->Append(edited) && file->Flush());
  }
  ASSERT_TRUE(PrepareSession(locations, error)) << error;
  EXPECT_EQ(ReadSetting(terminal, "Sistema", "Sortida"), "PDF");
  EXPECT_EQ(ModeOf(session), 0700);
}

TEST_F(LocationsTest, SessionsOfTheSuiteAndOfTheUserAreKeptAsTheyAre) {
  // KELTMP: the suite's menu has written it; nothing is added.
  {
    ScopedEnv env{{"KELTMP", dir_.path() + "suite/"}};
    const Locations locations = ResolveLocations({});
    std::string error;
    ASSERT_TRUE(PrepareSession(locations, error));
    EXPECT_FALSE(dir_.Exists("suite"));
  }
  // --session: made when missing, its mode left alone when it exists.
  dir_.Write("shared/other.txt", "");
  ASSERT_EQ(::chmod((dir_.path() + "shared").c_str(), 0750), 0);
  for (const char* name : {"shared", "new/session"}) {
    LocationRequest request;
    request.session_option = dir_.path() + name;
    const Locations locations = ResolveLocations(request);
    std::string error;
    ASSERT_TRUE(PrepareSession(locations, error)) << error;
    EXPECT_TRUE(dir_.Exists(std::string(name) + "/Sessio.ini"));
    EXPECT_TRUE(dir_.Exists(std::string(name) + "/OrvoTerm.ini"));
  }
  EXPECT_EQ(ModeOf(dir_.path() + "shared"), 0750);
  EXPECT_EQ(ModeOf(dir_.path() + "new/session"), 0700);

  // A file where the folder should be cannot serve.
  dir_.Write("plain", "");
  LocationRequest request;
  request.session_option = dir_.path() + "plain";
  std::string error;
  EXPECT_FALSE(PrepareSession(ResolveLocations(request), error));
  EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
}

}  // namespace
}  // namespace tarnevos
