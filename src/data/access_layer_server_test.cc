// The access layer on an installation whose Orvo.ini names a PostgreSQL
// server: the data files are tables there, created from the dictionaries
// as files are; a server that cannot be reached or goes away mid-run stops
// the program with the stop message and the record manager's status.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "data/access_layer.h"
#include "data/data_files.h"
#include "data/data_server.h"
#include "data/file_table.h"
#include "platform/console/memory_console.h"
#include "platform/recordmanager/record_manager.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "support/test_server.h"
#include "util/codepage.h"
#include "util/dates.h"

namespace tarnevos {
namespace {

namespace rm = platform;

int g_stops = 0;
std::string g_screen;  // the screen when the first stop beeped
void RecordStop() { ++g_stops; }

class SnapshotConsole : public rm::MemoryConsole {
 public:
  void Beep() override {
    MemoryConsole::Beep();
    if (!g_screen.empty()) return;
    for (int row = 1; row <= Rows(); ++row) g_screen += RowText(row) + "\n";
  }
};

std::string Unit(const std::string& code) {
  std::string record(kPropietLength, ' ');
  PutBytes(reinterpret_cast<uint8_t*>(record.data()), field::kUnitCode,
           PackDigits(code));
  return record;
}

class AccessLayerOnServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    std::optional<testing::TestServer> found = testing::SharedTestServer(&why);
    if (!found) {
      GTEST_SKIP() << why;
    }
    server_ = *found;
    testing::ResetRunState();
    rm::SetConsole(&console_);
    SessionSettings& session = TEST_MutableSession();
    session = SessionSettings{};
    session.root_dir = scratch_.path();
    session.tmp_dir = scratch_.path();
    g_stops = 0;
    g_screen.clear();
    TEST_SetFatalStopHandler(RecordStop);
    for (const FileLayout& layout : FileLayouts()) {
      scratch_.Write(std::string("ddf/") + layout.name + ".xdf",
                     DictionaryBytes(layout));
    }
  }
  void TearDown() override {
    int16_t status = 0;
    CloseAllDataFiles(status);
    testing::ResetRunState();
    rm::SetConsole(nullptr);
  }

  void UseServer(const std::string& connection) {
    scratch_.Write("Orvo.ini",
                   "[Usuari]\r\nIdioma=CAT\r\n[Dades]\r\nServidor=" +
                       connection + "\r\nEsquema=" + schema_.name() + "\r\n");
  }

  std::string One(const std::string& sql) {
    std::string error;
    std::optional<std::vector<std::string>> rows =
        testing::ServerQuery(sql, &error);
    EXPECT_TRUE(rows.has_value()) << error;
    return rows && !rows->empty() ? (*rows)[0] : "";
  }

  testing::ScratchDir scratch_;
  testing::ScratchSchema schema_;
  testing::TestServer server_;
  SnapshotConsole console_;
};

TEST_F(AccessLayerOnServer, OrvoIniChoosesTheServerAndTablesAreCreatedThere) {
  // No Servidor: the files.
  scratch_.Write("Orvo.ini", "[Dades]\r\nServidor=   \r\n");
  EXPECT_FALSE(InstallationServer(scratch_.path()).has_value());
  UseServer(server_.conninfo);
  std::optional<rm::ServerSettings> chosen =
      InstallationServer(scratch_.path());
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->connection, server_.conninfo);
  EXPECT_EQ(chosen->schema, schema_.name());
  EXPECT_EQ(chosen->root, scratch_.path());

  OpenAllDataFiles();
  ASSERT_EQ(g_stops, 0) << g_screen;
  // Created from the dictionaries on the server, none on disk.
  EXPECT_EQ(One("SELECT string_agg(name, ',' ORDER BY name) FROM " +
                schema_.name() + ".datafiles"),
            "dades/cobramh.dat,dades/findesph.dat,dades/finquesh.dat,"
            "dades/pagamh.dat,dades/propieth.dat,dades/threbut.dat");
  EXPECT_FALSE(scratch_.Exists("DADES"));

  // Records written by another program are read in key order.
  std::unique_ptr<rm::RecordManager> other =
      rm::MakePostgresRecordManager(*chosen);
  std::array<uint8_t, rm::kPositionBlockSize> block{};
  std::array<uint8_t, 255> name;
  name.fill(' ');
  const std::string path = scratch_.path() + "DADES\\PropietH.dat";
  std::memcpy(name.data(), path.c_str(), path.size() + 1);
  std::array<uint8_t, 1536> data{};
  uint32_t length = 5;
  ASSERT_EQ(other->Call(rm::kOpOpen, block.data(), data.data(), &length,
                        name.data(), 255, 0),
            0);
  for (const char* code : {"00070002", "00070001", "00080001"}) {
    std::string record = Unit(code);
    std::memcpy(data.data(), record.data(), record.size());
    length = static_cast<uint32_t>(record.size());
    ASSERT_EQ(other->Call(rm::kOpInsert, block.data(), data.data(), &length,
                          name.data(), 255, 0),
              0);
  }
  int16_t status = -1;
  ReadByKey(kPropietHandle, 0, PackDigits("0007"), 1, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(GetBytes(Areas().propiet.data(), field::kUnitCode, 4),
            PackDigits("00070001"));
  StepRecords(kPropietHandle, 2, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(GetBytes(Areas().propiet.data(), field::kUnitCode, 4),
            PackDigits("00080001"));
  EXPECT_EQ(g_stops, 0);
}

TEST_F(AccessLayerOnServer, AServerThatCannotBeReachedStopsAtTheFirstFile) {
  UseServer("host=" + scratch_.path() + "nowhere dbname=tarnevos");
  OpenAllDataFiles();
  // The program ends at the first stop; here each file stops in turn.
  EXPECT_EQ(g_stops, 6);
  EXPECT_NE(g_screen.find(Cp850("NO ES POT ACCEDIR AL FITXER")),
            std::string::npos)
      << g_screen;
  EXPECT_NE(g_screen.find("THRebut (20)"), std::string::npos) << g_screen;
}

TEST_F(AccessLayerOnServer, AConnectionLostMidRunStopsWithTheStatus) {
  const std::string application = "layer_" + std::to_string(::getpid());
  UseServer(server_.conninfo + " application_name=" + application);
  OpenAllDataFiles();
  ASSERT_EQ(g_stops, 0) << g_screen;
  int16_t status = -1;
  ReadByKey(kFinquesHandle, 0, PackDigits("0001"), 1, status);
  EXPECT_EQ(status, rm::kStatusEndOfFile);
  One("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
      "application_name = '" +
      application + "'");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // The report's next read: a stop, not an end of file.
  ReadByKey(kFinquesHandle, 0, PackDigits("0001"), 1, status);
  EXPECT_EQ(status, rm::kStatusConnectionLost);
  EXPECT_EQ(g_stops, 1);
  EXPECT_NE(g_screen.find("FinquesH (95)"), std::string::npos) << g_screen;
  // Reading by position stops the same way.
  g_stops = 0;
  g_screen.clear();
  TEST_ResetAccessLayer();
  rm::TEST_ResetRecordManager();
  OpenAllDataFiles();
  ASSERT_EQ(g_stops, 0) << g_screen;
  One("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
      "application_name = '" +
      application + "'");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(RecordPosition(kCobramHandle, 1), rm::kStatusConnectionLost);
  EXPECT_EQ(g_stops, 1);
  EXPECT_NE(g_screen.find("CobramH (95)"), std::string::npos) << g_screen;
}

// A table whose records are not those its dictionary describes (another
// file's table put in its place) is refused at open, as a swapped file is:
// the server's stat gives the creation specification the table was made
// with.
TEST_F(AccessLayerOnServer, ATableThatIsNotWhatItsDictionarySaysIsRefused) {
  UseServer(server_.conninfo);
  OpenAllDataFiles();
  ASSERT_EQ(g_stops, 0) << g_screen;
  int16_t status = 0;
  CloseAllDataFiles(status);
  {
    std::unique_ptr<rm::RecordManager> administrator =
        rm::MakePostgresRecordManager(*InstallationServer(scratch_.path()));
    ASSERT_EQ(
        administrator->ReplaceFiles({{scratch_.path() + "DADES\\PropietH.dat",
                                      scratch_.path() + "DADES\\CobramH.dat"}}),
        rm::kStatusOk);
  }
  std::vector<uint8_t> area(kCobramLength);
  OpenDataFile(kCobramHandle, scratch_.path() + "DADES\\CobramH", area.data(),
               area.size(), status);
  EXPECT_EQ(g_stops, 1);
  std::string words;  // the message, its lines joined
  for (char ch : g_screen) {
    const bool blank =
        ch == ' ' || ch == '\n' || static_cast<unsigned char>(ch) >= 128;
    if (!blank) words += ch;
    if (blank && !words.empty() && words.back() != ' ') words += ' ';
  }
  EXPECT_NE(words.find("EL FITXER " + scratch_.path() +
                       "DADES\\CobramH NO CORRESPON AL SEU DICCIONARI " +
                       scratch_.path() + "ddf\\CobramH.xdf"),
            std::string::npos)
      << g_screen;
  EXPECT_LE(FindFileSlot(kCobramHandle), 0);
}

}  // namespace
}  // namespace tarnevos
