// The access layer on the SQLite record manager: files created from their
// dictionaries, keyed reads, stepping along duplicates, positions.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "data/access_layer.h"
#include "data/data_files.h"
#include "data/file_table.h"
#include "data/scripted_record_manager.h"
#include "platform/console/memory_console.h"
#include "platform/recordmanager/record_manager.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"
#include "util/dates.h"

namespace tarnevos {
namespace {

namespace rm = platform;

int g_stops = 0;
std::string g_screen;  // the screen when the stop beeped
void RecordStop() { ++g_stops; }

class SnapshotConsole : public rm::MemoryConsole {
 public:
  void Beep() override {
    MemoryConsole::Beep();
    g_screen.clear();
    for (int row = 1; row <= Rows(); ++row) g_screen += RowText(row) + "\n";
  }
};

// Inserts records into a data file through the record manager directly.
void Insert(const std::string& path, const std::vector<std::string>& records) {
  std::array<uint8_t, rm::kPositionBlockSize> block{};
  std::array<uint8_t, 255> key;
  key.fill(' ');
  std::memcpy(key.data(), path.c_str(), path.size() + 1);
  std::array<uint8_t, 1536> data{};
  std::string owner = DataOwnerName();
  std::memcpy(data.data(), owner.c_str(), owner.size() + 1);
  uint32_t length = static_cast<uint32_t>(owner.size() + 1);
  ASSERT_EQ(rm::RecordManagerCall(rm::kOpOpen, block.data(), data.data(),
                                  &length, key.data(), 255, 0),
            0)
      << path;
  for (const std::string& record : records) {
    std::memcpy(data.data(), record.data(), record.size());
    length = static_cast<uint32_t>(record.size());
    ASSERT_EQ(rm::RecordManagerCall(rm::kOpInsert, block.data(), data.data(),
                                    &length, key.data(), 255, 0),
              0);
  }
  rm::RecordManagerCall(rm::kOpClose, block.data(), data.data(), &length,
                        key.data(), 0, 0);
}

std::string Collection(const std::string& unit, const std::string& date,
                       int32_t amount) {
  std::string record(kCobramLength, ' ');
  auto* bytes = reinterpret_cast<uint8_t*>(record.data());
  PutBytes(bytes, field::kCollectionUnit, PackDigits(unit));
  PutBytes(bytes, field::kCollectionDate, PackDigits(date));
  PutInt32(bytes, field::kCollectionFirst, amount);
  PutInt32(bytes, field::kCollectionSecond, 0);
  return record;
}

int32_t AreaAmount() {
  return GetInt32(Areas().cobram.data(), field::kCollectionFirst);
}

class AccessLayerOnSqlite : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    rm::SetConsole(&console_);
    SessionSettings& session = TEST_MutableSession();
    session = SessionSettings{};
    session.root_dir = scratch_.path();
    session.tmp_dir = scratch_.path();
    g_stops = 0;
    TEST_SetFatalStopHandler(RecordStop);
    scratch_.Write("DADES/readme.txt", "data files");
  }
  void TearDown() override {
    int16_t status = 0;
    CloseAllDataFiles(status);
    testing::ResetRunState();
    rm::SetConsole(nullptr);
  }
  void WriteDictionaries() {
    for (const FileLayout& layout : FileLayouts()) {
      scratch_.Write(std::string("ddf/") + layout.name + ".xdf",
                     DictionaryBytes(layout));
    }
  }

  testing::ScratchDir scratch_;
  SnapshotConsole console_;
};

TEST_F(AccessLayerOnSqlite, CreatesMissingFilesAndReadsThemInKeyOrder) {
  WriteDictionaries();
  OpenAllDataFiles();
  ASSERT_EQ(g_stops, 0);
  for (const FileLayout& layout : FileLayouts()) {
    EXPECT_TRUE(scratch_.Exists(std::string("DADES/") + layout.name + ".dat"))
        << layout.name;
  }
  Insert(scratch_.path() + "DADES/CobramH.dat",
         {Collection("00010002", "20260105", 5),
          Collection("00010001", "20260205", 2),
          Collection("00010001", "20260105", 1),
          Collection("00010001", "20260205", 3),
          Collection("00020001", "20250105", 6)});

  // From the first collection of unit 1.1 along the key: dates in order,
  // equal keys in the order they were written.
  int16_t status = -1;
  ReadByKey(kCobramHandle, 0, PackDigits("00010001"), 1, status);
  ASSERT_EQ(status, 0);
  std::vector<int32_t> amounts{AreaAmount()};
  for (;;) {
    StepRecords(kCobramHandle, 1, status);
    if (status != 0) break;
    amounts.push_back(AreaAmount());
  }
  EXPECT_EQ(status, rm::kStatusEndOfFile);
  EXPECT_EQ(amounts, (std::vector<int32_t>{1, 2, 3, 5, 6}));
  EXPECT_EQ(AreaAmount(), 6) << "the failed step kept the record";

  // Less or equal on unit + date; moving back two at once.
  ReadByKey(kCobramHandle, 0, PackDigits("0001000220261231"), -1, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(AreaAmount(), 5);
  StepRecords(kCobramHandle, -2, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(AreaAmount(), 2);
  EXPECT_EQ(CurrentKeyImage(kCobramHandle), PackDigits("0001000120260205"));

  // The position of a record reads it back later.
  int32_t position = RecordPosition(kCobramHandle, 0);
  EXPECT_NE(position, 0);
  StepRecords(kCobramHandle, 1, status);
  EXPECT_EQ(AreaAmount(), 3);
  EXPECT_EQ(RecordPosition(kCobramHandle, position), 0);
  EXPECT_EQ(AreaAmount(), 2);
  StepRecords(kCobramHandle, 1, status);
  EXPECT_EQ(AreaAmount(), 3) << "stepping goes on from the record read back";

  // An equal read that finds nothing leaves the area alone.
  ReadByKey(kCobramHandle, 0, PackDigits("00030001"), 0, status);
  EXPECT_EQ(status, rm::kStatusKeyNotFound);
  EXPECT_EQ(AreaAmount(), 3);
  ReadByKey(kCobramHandle, 1, "", 0, status);
  EXPECT_EQ(status, kStatusNoSuchKey);

  CloseAllDataFiles(status);
  EXPECT_EQ(status, 0);
  StepRecords(kCobramHandle, 1, status);
  EXPECT_EQ(status, rm::kStatusNotOpen);
}

TEST_F(AccessLayerOnSqlite, ReceiptTypesAreFoundByOneByteKeys) {
  WriteDictionaries();
  auto type = [](int key, int16_t type_class) {
    std::string record(kThRebutLength, ' ');
    record[0] = static_cast<char>(key);
    PutInt16(reinterpret_cast<uint8_t*>(record.data()), field::kReceiptClass,
             type_class);
    return record;
  };
  OpenThRebut();
  Insert(scratch_.path() + "DADES/THRebut.dat",
         {type(1, 1), type(3, 0), type(128 + 12, 1)});
  struct Case {
    std::string key;
    int16_t status;
    int16_t type_class;
  } cases[] = {{"\x01", 0, 1},
               {"\x03", 0, 0},
               {"\x8C", 0, 1},
               {"\x02", rm::kStatusKeyNotFound, 9}};
  for (const Case& c : cases) {
    PutInt16(Areas().threbut.data(), field::kReceiptClass, 9);
    int16_t status = -1;
    ReadByKey(kThRebutHandle, 0, c.key, 0, status);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(GetInt16(Areas().threbut.data(), field::kReceiptClass),
              c.type_class);
  }
}

TEST_F(AccessLayerOnSqlite, RecordsLongerThanTheAreaStopAtItsEnd) {
  scratch_.Write("ddf/Wide.xdf", [] {
    std::string spec = testing::MakeStatistics(100, 1, {{4, 0}});
    return std::string{static_cast<char>(spec.size()), 0} + spec;
  }());
  std::vector<uint8_t> memory(24 + 16, '#');
  int16_t status = -1;
  OpenDataFile(900, scratch_.path() + "DADES\\Wide", memory.data(), 24, status);
  ASSERT_EQ(status, 0);
  Insert(scratch_.path() + "DADES/Wide.dat", {std::string(100, 'W')});
  ReadByKey(900, 0, "WWWW", 0, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(memory.begin(), memory.end()),
            std::string(24, 'W') + std::string(16, '#'));
}

TEST_F(AccessLayerOnSqlite, AMissingDictionaryStopsWithTheCreationsStatus) {
  std::vector<uint8_t> area(24);
  int16_t status = -1;
  OpenDataFile(kPagamHandle, scratch_.path() + "DADES\\PagamH", area.data(),
               area.size(), status);
  EXPECT_EQ(g_stops, 1);
  // The record manager refused the blank specification (status 2).
  EXPECT_NE(g_screen.find("PagamH (2)"), std::string::npos) << g_screen;
  EXPECT_FALSE(scratch_.Exists("DADES/PagamH.dat"));
  EXPECT_LE(FindFileSlot(kPagamHandle), 0);
}

// A dictionary that is a folder is no dictionary: the file cannot be
// created and the program stops with the creation's status (it must never
// abort on it).
TEST_F(AccessLayerOnSqlite, ADictionaryThatIsAFolderStopsWithAMessage) {
  WriteDictionaries();
  std::filesystem::remove(scratch_.path() + "ddf/PagamH.xdf");
  std::filesystem::create_directories(scratch_.path() + "ddf/PagamH.xdf");
  std::vector<uint8_t> area(kPagamLength);
  int16_t status = -1;
  OpenDataFile(kPagamHandle, scratch_.path() + "DADES\\PagamH", area.data(),
               area.size(), status);
  EXPECT_EQ(g_stops, 1);
  EXPECT_NE(g_screen.find("PagamH (2)"), std::string::npos) << g_screen;
  EXPECT_FALSE(scratch_.Exists("DADES/PagamH.dat"));
}

// A data file whose records are not those its dictionary describes (another
// file copied over it) is refused at open with a message naming it; files
// that match, and files without a dictionary, open.
TEST_F(AccessLayerOnSqlite, AFileThatIsNotWhatItsDictionarySaysIsRefused) {
  WriteDictionaries();
  OpenAllDataFiles();
  ASSERT_EQ(g_stops, 0);
  int16_t status = 0;
  CloseAllDataFiles(status);
  const std::string data = scratch_.path() + "DADES/";
  std::filesystem::copy_file(data + "PropietH.dat", data + "CobramH.dat",
                             std::filesystem::copy_options::overwrite_existing);
  // Same record length, other keys: THRebut's key is 1 byte, CobramH's 8.
  scratch_.Write("ddf/Other.xdf", [] {
    std::string spec = testing::MakeStatistics(24, 1, {{8, 0}});
    return std::string{static_cast<char>(spec.size()), 0} + spec;
  }());
  std::filesystem::copy_file(data + "THRebut.dat", data + "Other.dat");

  const struct {
    int16_t handle;
    const char* name;
    size_t length;
  } cases[] = {{kCobramHandle, "CobramH", kCobramLength}, {901, "Other", 24}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_stops = 0;
    std::vector<uint8_t> area(c.length);
    OpenDataFile(c.handle, scratch_.path() + "DADES\\" + c.name, area.data(),
                 area.size(), status);
    EXPECT_EQ(g_stops, 1);
    std::string words;  // the message, its lines joined
    for (char ch : g_screen) {
      const bool blank =
          ch == ' ' || ch == '\n' || static_cast<unsigned char>(ch) >= 128;
      if (!blank) words += ch;
      if (blank && !words.empty() && words.back() != ' ') words += ' ';
    }
    EXPECT_NE(words.find(std::string("EL FITXER ") + scratch_.path() +
                         "DADES\\" + c.name +
                         " NO CORRESPON AL SEU "
                         "DICCIONARI " +
                         scratch_.path() + "ddf\\" + c.name + ".xdf"),
              std::string::npos)
        << g_screen;
    EXPECT_LE(FindFileSlot(c.handle), 0);
  }

  // Without its dictionary the file is taken as it is.
  std::filesystem::remove(scratch_.path() + "ddf/Other.xdf");
  g_stops = 0;
  std::vector<uint8_t> area(24);
  OpenDataFile(901, scratch_.path() + "DADES\\Other", area.data(), area.size(),
               status);
  EXPECT_EQ(g_stops, 0);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace tarnevos
