#include "data/access_layer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/keyboard.h"
#include "console/windows.h"
#include "data/file_table.h"
#include "data/key_spec.h"
#include "data/scripted_record_manager.h"
#include "platform/console/memory_console.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

namespace rm = platform;
using testing::MakeStatistics;
using testing::ScriptedRecordManager;
using Reply = ScriptedRecordManager::Reply;
using ::testing::ElementsAre;

// The text the record manager received as a file name: up to its zero byte.
std::string NameIn(const ScriptedRecordManager::CallRecord& call) {
  return call.key.substr(0, call.key.find('\0'));
}

// Remembers the screen when the program beeps: the stop message is on
// screen then.
class SnapshotConsole : public rm::MemoryConsole {
 public:
  void Beep() override {
    MemoryConsole::Beep();
    snapshot.clear();
    for (int row = 1; row <= Rows(); ++row) snapshot += RowText(row) + "\n";
  }
  std::string snapshot;
};

int g_stops = 0;
void RecordStop() { ++g_stops; }

class AccessLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    rm::SetRecordManager(&manager_);
    rm::SetConsole(&console_);
    SessionSettings& session = TEST_MutableSession();
    session = SessionSettings{};
    session.root_dir = scratch_.path();
    session.tmp_dir = scratch_.path();
    g_stops = 0;
    TEST_SetFatalStopHandler(RecordStop);
    rm::TEST_SetSleeper([this](int ms) { waits_.push_back(ms); });
    // A file of 24-byte records with one 4-byte key.
    manager_.SetStatistics(MakeStatistics(24, 1, {{4, 0}}));
  }
  void TearDown() override {
    testing::ResetRunState();
    rm::SetConsole(nullptr);
  }

  // Opens handle 700 on area_, expecting success.
  void OpenFile(size_t area_size = 24) {
    area_.assign(area_size, '.');
    int16_t status = -1;
    OpenDataFile(700, "DADES\\X", area_.data(), area_.size(), status);
    ASSERT_EQ(status, 0);
    manager_.calls.clear();
  }
  std::string Area() const { return std::string(area_.begin(), area_.end()); }

  testing::ScratchDir scratch_;
  SnapshotConsole console_;
  ScriptedRecordManager manager_;
  std::vector<int> waits_;
  std::vector<uint8_t> area_;
};

TEST_F(AccessLayerTest, SlotsAreTakenFromTheTopAndLimitedToForty) {
  std::vector<uint8_t> area(24);
  int16_t status = -1;
  for (int i = 0; i < kFileSlotCount; ++i) {
    OpenDataFile(static_cast<int16_t>(100 + i), "F", area.data(), area.size(),
                 status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(FindFileSlot(static_cast<int16_t>(100 + i)), 40 - i);
  }
  size_t calls = manager_.calls.size();
  OpenDataFile(100, "F", area.data(), area.size(), status);
  EXPECT_EQ(status, kStatusHandleOpen);
  OpenDataFile(0, "F", area.data(), area.size(), status);
  EXPECT_EQ(status, kStatusHandleOpen);  // 0 marks free slots
  OpenDataFile(999, "F", area.data(), area.size(), status);
  EXPECT_EQ(status, kStatusNoFreeSlot);
  EXPECT_EQ(manager_.calls.size(), calls);  // nothing reached the files
  EXPECT_EQ(FindFileSlot(999), 0);
}

TEST_F(AccessLayerTest, FileNamesGetTheirExtensionFromTheLastComponent) {
  struct Case {
    const char* given;
    const char* opened;
  } cases[] = {
      {"C:\\A.B\\DADES\\THRebut", "C:\\A.B\\DADES\\THRebut.dat"},
      {"X\\Name.dat", "X\\Name.dat"},
      {"X\\a.b.c", "X\\a.b.c"},
      {"D:file", "D:file.dat"},
      {"dir/sub.d/name", "dir/sub.d/name.dat"},
      {"plain", "plain.dat"},
  };
  std::vector<uint8_t> area(24);
  int16_t handle = 100;
  for (const Case& c : cases) {
    manager_.calls.clear();
    int16_t status = -1;
    OpenDataFile(handle++, c.given, area.data(), area.size(), status);
    ASSERT_EQ(status, 0) << c.given;
    auto opens = manager_.CallsOf(rm::kOpOpen);
    ASSERT_EQ(opens.size(), 1u);
    const auto& open = opens[0];
    EXPECT_EQ(NameIn(open), c.opened);
    EXPECT_EQ(open.key_length, 255);
    EXPECT_EQ(open.key_number, 0);
    // Blanks after the name's zero byte; the owner name with its zero byte.
    EXPECT_EQ(open.key.substr(strlen(c.opened) + 1),
              std::string(254 - strlen(c.opened), ' '));
    EXPECT_EQ(open.data_length, 5u);
    EXPECT_EQ(open.data, DataOwnerName() + '\0');
    EXPECT_EQ(open.position_block, std::string(128, '\0'));
  }
  EXPECT_EQ(DataOwnerName().size(), 4u);
  EXPECT_EQ(DataOwnerName().find_first_not_of("0123456789"), std::string::npos);
}

TEST_F(AccessLayerTest, OpenSetsTheKeyAndRecordLengthAndRetriesLockedFiles) {
  manager_.SetStatistics(
      MakeStatistics(30, 1, {{2, kSegmentBinary | kSegmentContinues}, {3, 0}}));
  manager_.QueueStatus(rm::kOpOpen, rm::kStatusFileLocked);
  manager_.QueueStatus(rm::kOpOpen, rm::kStatusFileLocked);
  std::vector<uint8_t> area(30);
  int16_t status = -1;
  // While the file is held elsewhere the screen says so, from the first
  // wait on; the message goes once the file opens.
  std::vector<bool> message_shown;
  rm::TEST_SetSleeper([&](int ms) {
    waits_.push_back(ms);
    message_shown.push_back(
        console_.ScreenContains(Cp850("FITXER BLOQUEJAT. ESPEREU UN MOMENT.")));
  });
  OpenDataFile(700, "DADES\\X", area.data(), area.size(), status);
  EXPECT_EQ(status, 0);
  EXPECT_THAT(waits_, ElementsAre(3000, 3000));
  EXPECT_THAT(message_shown, ElementsAre(true, true));
  EXPECT_FALSE(console_.ScreenContains(Cp850("FITXER BLOQUEJAT")));
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_EQ(manager_.CallsOf(rm::kOpOpen).size(), 3u);
  EXPECT_EQ(g_stops, 0);
  EXPECT_EQ(console_.beeps(), 0);
  // The current key value is key 0's length of zero bytes.
  EXPECT_EQ(CurrentKeyImage(700), std::string(5, '\0'));
}

TEST_F(AccessLayerTest, MissingFilesAreCreatedFromTheirDictionary) {
  // Length word 6 and a six-byte specification; the bytes after it are
  // not part of it.
  const std::string spec("\x18\x00\x00\x10\x01\x00", 6);
  scratch_.Write("ddf/THRebut.xdf", std::string("\x06\x00", 2) + spec + "zz");
  manager_.QueueStatus(rm::kOpOpen, rm::kStatusFileNotFound);
  std::vector<uint8_t> area(24);
  int16_t status = -1;
  OpenDataFile(504, "C:\\ELSEWHERE\\THRebut", area.data(), area.size(), status);
  EXPECT_EQ(status, 0);
  EXPECT_THAT(manager_.Operations(),
              ElementsAre(rm::kOpOpen, rm::kOpCreate, rm::kOpOpen));
  auto create = manager_.CallsOf(rm::kOpCreate).at(0);
  EXPECT_EQ(create.data_length, 1536u);
  EXPECT_EQ(create.data, spec + std::string(1536 - spec.size(), ' '));
  EXPECT_EQ(create.key_number, -1);
  EXPECT_EQ(NameIn(create), "C:\\ELSEWHERE\\THRebut.dat");
  EXPECT_EQ(FindFileSlot(504), 40);
}

TEST_F(AccessLayerTest, AFailedCreationStopsWithItsOwnStatus) {
  manager_.QueueStatus(rm::kOpOpen, rm::kStatusFileNotFound);
  manager_.QueueStatus(rm::kOpCreate, 59);
  std::vector<uint8_t> area(24);
  int16_t status = -1;
  OpenDataFile(504, "DADES\\THRebut", area.data(), area.size(), status);
  EXPECT_EQ(g_stops, 1);
  // The dictionary is missing: the creation was handed blanks.
  EXPECT_EQ(manager_.CallsOf(rm::kOpCreate).at(0).data, std::string(1536, ' '));
  EXPECT_NE(console_.snapshot.find(
                Cp850("NO ES POT ACCEDIR AL FITXER DADES\\THRebut (59)")),
            std::string::npos)
      << console_.snapshot;
  EXPECT_EQ(console_.beeps(), 1);
  // The files were reset, the reset's status reaches the caller, the box is
  // gone and the handle was not left behind.
  EXPECT_EQ(manager_.Operations().back(), rm::kOpReset);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_LE(FindFileSlot(504), 0);
  EXPECT_FALSE(console_.ScreenContains(Cp850("NO ES POT")));
}

std::string g_notice;
void RecordNotice(const std::string& message) { g_notice = message; }

TEST_F(AccessLayerTest, AnUnattendedStopTellsItsNoticeInsteadOfTheScreen) {
  g_notice.clear();
  SetUnattendedStop(&RecordNotice);
  manager_.QueueStatus(rm::kOpOpen, 30);
  std::vector<uint8_t> area(24);
  int16_t status = -1;
  OpenDataFile(511, "DADES\\FinquesH", area.data(), area.size(), status);
  EXPECT_EQ(g_notice,
            Cp850("NO ES POT ACCEDIR AL FITXER DADES\\FinquesH (30)"));
  EXPECT_EQ(g_stops, 1) << "the program still ends";
  EXPECT_EQ(manager_.Operations().back(), rm::kOpReset);
  EXPECT_EQ(console_.snapshot, "");
  EXPECT_EQ(console_.beeps(), 0);
  EXPECT_EQ(console_.ExhaustedWaits(), 0) << "no key awaited";
  SetUnattendedStop(nullptr);
}

TEST_F(AccessLayerTest, ANameTooLongForTheKeyBufferStopsWithoutACall) {
  std::vector<uint8_t> area(24);
  int16_t status = -1;
  OpenDataFile(504, std::string(300, 'N'), area.data(), area.size(), status);
  EXPECT_EQ(g_stops, 1);
  EXPECT_TRUE(manager_.CallsOf(rm::kOpOpen).empty());
  EXPECT_NE(console_.snapshot.find("(11)"), std::string::npos)
      << console_.snapshot;
}

TEST_F(AccessLayerTest, TheStopMessageFollowsTheLanguageAndDropsPendingKeys) {
  struct Case {
    const char* language;
    std::string prefix;
  } cases[] = {
      {"SPA", Cp850("NO SE PUEDE ACCEDER AL FICHERO ")},
      {"GLG", Cp850("NOM SE PODE ACEDER AO FICHEIRO ")},
      {"OCI", "NON SE P\xD2T ACCEDIR ATH FICH\xC8R "},
      {"CAT", Cp850("NO ES POT ACCEDIR AL FITXER ")},
      {"   ", Cp850("NO ES POT ACCEDIR AL FITXER ")},
  };
  EXPECT_EQ(Cp850("NON SE PÊT ACCEDIR ATH FICH╚R "), cases[2].prefix);
  int16_t handle = 100;
  for (const Case& c : cases) {
    TEST_MutableSession().language = c.language;
    console_.PushKey('x');  // typed before the message: discarded
    manager_.QueueStatus(rm::kOpOpen, 46);
    manager_.QueueStatus(rm::kOpReset, 7);
    std::vector<uint8_t> area(24);
    int16_t status = -1;
    OpenDataFile(handle++, "DADES\\PagamH", area.data(), area.size(), status);
    EXPECT_NE(console_.snapshot.find(c.prefix + "DADES\\PagamH (46)"),
              std::string::npos)
        << c.language << "\n"
        << console_.snapshot;
    EXPECT_EQ(status, 7) << "the reset's status is handed back";
    EXPECT_EQ(console_.PendingEvents(), 0u);
    EXPECT_GT(console_.ExhaustedWaits(), 0) << "waited for a fresh key";
  }
  EXPECT_EQ(g_stops, 5);
}

TEST_F(AccessLayerTest, StepRecordsFillsTheAreaOnlyWithTheLastMove) {
  OpenFile();
  int16_t status = -1;
  StepRecords(700, 0, status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(manager_.calls.empty());

  manager_.Queue(rm::kOpGetNext, {0, std::string(24, 'a'), {}, "K001"});
  manager_.Queue(rm::kOpGetNext, {0, std::string(24, 'b'), {}, "K002"});
  manager_.Queue(rm::kOpGetNext, {0, std::string(24, 'c'), {}, "K003"});
  StepRecords(700, 3, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Area(), std::string(24, 'c'));
  auto steps = manager_.CallsOf(rm::kOpGetNext);
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].data_length, 1536u);  // scratch buffer
  EXPECT_EQ(steps[0].key_length, 255);
  EXPECT_EQ(steps[1].key.substr(0, 4), "K001");
  EXPECT_EQ(steps[2].data_length, 24u);  // the last move: into the area
  EXPECT_EQ(steps[2].key_length, 4);
  EXPECT_EQ(steps[2].key.substr(0, 4), "K002");
  EXPECT_EQ(CurrentKeyImage(700), "K003");

  // Backwards, with a failure on the first move: nothing else happens.
  manager_.calls.clear();
  manager_.Queue(rm::kOpGetPrevious, {9, std::string(24, 'x')});
  StepRecords(700, -2, status);
  EXPECT_EQ(status, 9);
  EXPECT_EQ(manager_.calls.size(), 1u);
  EXPECT_EQ(Area(), std::string(24, 'c'));

  manager_.calls.clear();
  manager_.Queue(rm::kOpGetPrevious, {0, std::string(24, 'p')});
  manager_.Queue(rm::kOpGetPrevious, {9, {}, 0});
  StepRecords(700, -2, status);
  EXPECT_EQ(status, 9);
  EXPECT_EQ(Area(), std::string(24, 'c'));

  StepRecords(701, 1, status);
  EXPECT_EQ(status, rm::kStatusNotOpen);
}

TEST_F(AccessLayerTest, ReadByKeyPadsOrCutsTheValueAndPicksTheOperation) {
  OpenFile();
  struct Case {
    std::string value;
    int16_t mode;
    int16_t operation;
    std::string key;  // the first 6 bytes of the key buffer sent
  } cases[] = {
      {"AB", 1, rm::kOpGetGreaterOrEqual, std::string("AB\0\0\0\0", 6)},
      {"ABCDEFG", 0, rm::kOpGetEqual, "ABCD  "},
      {"A", -3, rm::kOpGetLessOrEqual, std::string("A\0\0\0\xFF\xFF", 6)},
  };
  for (const Case& c : cases) {
    manager_.calls.clear();
    int16_t status = -1;
    ReadByKey(700, 0, c.value, c.mode, status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(manager_.Operations().size(), 1u);
    auto call = manager_.calls.back();
    EXPECT_EQ(call.operation, c.operation) << c.value;
    EXPECT_EQ(call.key.substr(0, 6), c.key) << c.value;
    EXPECT_EQ(call.key_length, 4);
    EXPECT_EQ(call.key_number, 0);
    // The data buffer is primed with the area's contents.
    EXPECT_EQ(call.data, Area());
  }
}

TEST_F(AccessLayerTest, AnUnknownKeyNumberChangesNothing) {
  manager_.SetStatistics(MakeStatistics(24, 2, {{4, 0}, {2, 0}}));
  OpenFile();
  int16_t status = -1;
  ReadByKey(700, 1, "xy", 0, status);
  EXPECT_EQ(status, 0);
  manager_.calls.clear();
  ReadByKey(700, 2, "zz", 0, status);
  EXPECT_EQ(status, kStatusNoSuchKey);
  ReadByKey(700, -1, "zz", 0, status);
  EXPECT_EQ(status, kStatusNoSuchKey);
  EXPECT_TRUE(manager_.Operations().empty());
  StepRecords(700, 1, status);
  auto step = manager_.calls.back();
  EXPECT_EQ(step.key_number, 1);
  EXPECT_EQ(step.key.substr(0, 2), "xy");
  ReadByKey(701, 0, "zz", 0, status);
  EXPECT_EQ(status, rm::kStatusNotOpen);
}

TEST_F(AccessLayerTest, ReadsNeverCopyMoreThanTheRecordOrTheArea) {
  // Status 22 counts as success and brings at most the record length.
  OpenFile(30);
  manager_.Queue(rm::kOpGetEqual, {22, std::string(30, 'r')});
  int16_t status = -1;
  ReadByKey(700, 0, "k", 0, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Area(), std::string(24, 'r') + "......");

  // A file whose records are longer than the caller's area: the area is
  // filled and nothing beyond it is touched.
  TEST_ResetAccessLayer();
  manager_.SetStatistics(MakeStatistics(428, 1, {{4, 0}}));
  std::vector<uint8_t> memory(24 + 16, '#');
  int16_t open_status = -1;
  OpenDataFile(700, "DADES\\Y", memory.data(), 24, open_status);
  ASSERT_EQ(open_status, 0);
  manager_.Queue(rm::kOpGetEqual, {0, std::string(428, 'L')});
  manager_.Queue(rm::kOpGetDirect, {0, std::string(428, 'D')});
  ReadByKey(700, 0, "k", 0, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(memory.begin(), memory.end()),
            std::string(24, 'L') + std::string(16, '#'));
  // The primed buffer holds the area's 24 bytes, then blanks.
  auto read = manager_.CallsOf(rm::kOpGetEqual).back();
  EXPECT_EQ(read.data_length, 428u);
  EXPECT_EQ(read.data.substr(0, 30), std::string(24, '#') + "      ");
  EXPECT_EQ(RecordPosition(700, 5), 0);
  EXPECT_EQ(std::string(memory.begin(), memory.end()),
            std::string(24, 'D') + std::string(16, '#'));
}

TEST_F(AccessLayerTest, RecordPositionReadsAndFetchesByPosition) {
  OpenFile();
  manager_.Queue(rm::kOpGetPosition, {0, std::string("\x10\x27\x00\x00", 4)});
  EXPECT_EQ(RecordPosition(700, 0), 10000);
  auto get_position = manager_.CallsOf(rm::kOpGetPosition).at(0);
  EXPECT_EQ(get_position.key_length, 0);
  EXPECT_EQ(get_position.data.substr(0, 4), std::string(4, '\0'));
  manager_.Queue(rm::kOpGetPosition, {8, std::string("\x10\x27\x00\x00", 4)});
  EXPECT_EQ(RecordPosition(700, 0), 0);

  manager_.Queue(rm::kOpGetDirect, {0, std::string(10, 'd'), {}, "KEY9"});
  EXPECT_EQ(RecordPosition(700, 0x01020304), 0);
  auto direct = manager_.CallsOf(rm::kOpGetDirect).at(0);
  EXPECT_EQ(direct.data.substr(0, 4), "\x04\x03\x02\x01");
  EXPECT_EQ(direct.data_length, 1536u);
  EXPECT_EQ(Area(), std::string(10, 'd') + std::string(14, '.'));
  EXPECT_EQ(CurrentKeyImage(700), "KEY9");
  // A failed direct read keeps the area but still takes the key.
  manager_.Queue(rm::kOpGetDirect, {43, std::string(24, 'x'), {}, "KEY0"});
  EXPECT_EQ(RecordPosition(700, 7), 43);
  EXPECT_EQ(Area(), std::string(10, 'd') + std::string(14, '.'));
  EXPECT_EQ(CurrentKeyImage(700), "KEY0");
  EXPECT_EQ(RecordPosition(701, 7), rm::kStatusNotOpen);
}

TEST_F(AccessLayerTest, LockModesAreSavedAndRestoredPerFile) {
  OpenFile();
  int16_t status = 55;
  auto read_operation = [&] {
    manager_.calls.clear();
    ReadByKey(700, 0, "k", 0, status);
    return manager_.Operations().at(0);
  };
  SetLockMode(700, "b", status);
  EXPECT_EQ(status, 55) << "success leaves the status alone";
  EXPECT_EQ(read_operation(), rm::kOpGetEqual + rm::kLockBias);
  SetLockMode(700, "+d", status);
  EXPECT_EQ(read_operation(), rm::kOpGetEqual);
  SetLockMode(700, "-", status);
  EXPECT_EQ(read_operation(), rm::kOpGetEqual + rm::kLockBias);
  // Nothing saved any more: "-" keeps the mode.
  SetLockMode(700, "D-", status);
  EXPECT_EQ(read_operation(), rm::kOpGetEqual);
  // The latest saved pair of this file wins; other files' pairs stay.
  std::vector<uint8_t> other(24);
  OpenDataFile(701, "DADES\\Z", other.data(), other.size(), status);
  SetLockMode(700, "A+", status);
  SetLockMode(701, "+", status);
  SetLockMode(700, "B+D", status);
  SetLockMode(700, "-", status);
  EXPECT_EQ(read_operation(), rm::kOpGetEqual + rm::kLockBias);
  SetLockMode(700, "-", status);
  SetLockMode(700, "-", status);
  SetLockMode(701, "?", status);
  EXPECT_EQ(read_operation(), rm::kOpGetEqual + rm::kLockBias);
  SetLockMode(702, "d", status);
  EXPECT_EQ(status, rm::kStatusNotOpen);
}

TEST_F(AccessLayerTest, LockedReadsWaitBehindOneMessageInWaitingMode) {
  OpenFile();
  int16_t status = -1;
  SetLockMode(700, "A", status);
  const std::string message = Cp850("FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
  std::vector<bool> shown;
  manager_.OnCall([&](const ScriptedRecordManager::CallRecord& call) {
    if (call.operation != rm::kOpStat) {
      shown.push_back(console_.ScreenContains(message));
    }
  });
  console_.Write(24, 1, std::string(80, 'S'), 0x07);

  manager_.QueueStatus(rm::kOpGetEqual + rm::kLockBias, 85);
  manager_.QueueStatus(rm::kOpGetEqual + rm::kLockBias, 84);
  manager_.Queue(rm::kOpGetEqual + rm::kLockBias, {22, std::string(24, 'z')});
  ReadByKey(700, 0, "k", 0, status);
  EXPECT_EQ(status, 0);
  EXPECT_THAT(shown, ElementsAre(false, true, true));
  ASSERT_EQ(waits_.size(), 2u);
  for (int wait : waits_) {
    EXPECT_GE(wait, 1);
    EXPECT_LE(wait, 10001);
  }
  EXPECT_EQ(Area(), std::string(24, 'z'));
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(console_.ScreenContains(message));
  EXPECT_EQ(console_.RowText(24), std::string(80, 'S'));

  // Another failure ends the wait as well and is handed back.
  shown.clear();
  waits_.clear();
  manager_.QueueStatus(rm::kOpGetNext + rm::kLockBias, 84);
  manager_.QueueStatus(rm::kOpGetNext + rm::kLockBias, 12);
  StepRecords(700, 1, status);
  EXPECT_EQ(status, 12);
  EXPECT_THAT(shown, ElementsAre(false, true));
  EXPECT_EQ(waits_.size(), 1u);
  EXPECT_EQ(WindowDepth(), 0);
}

TEST_F(AccessLayerTest, LockedStatusesReturnAtOnceInTheOtherModes) {
  OpenFile();
  int16_t status = -1;
  manager_.QueueStatus(rm::kOpGetEqual, 85);
  ReadByKey(700, 0, "k", 0, status);
  EXPECT_EQ(status, 85);
  SetLockMode(700, "B", status);
  manager_.QueueStatus(rm::kOpGetGreaterOrEqual + rm::kLockBias, 84);
  ReadByKey(700, 0, "k", 1, status);
  EXPECT_EQ(status, 84);
  EXPECT_TRUE(waits_.empty());
  EXPECT_EQ(console_.beeps(), 0);
  EXPECT_EQ(WindowDepth(), 0);
  // The key buffer of a biased read is filled as for the plain one.
  EXPECT_EQ(manager_.calls.back().key.substr(0, 4), std::string("k\0\0\0", 4));
}

TEST_F(AccessLayerTest, CloseAllDataFilesClearsTheTableOnlyOnSuccess) {
  OpenFile();
  int16_t status = -1;
  SetLockMode(700, "B+", status);
  manager_.QueueStatus(rm::kOpReset, 3);
  CloseAllDataFiles(status);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(FindFileSlot(700), 40);
  auto reset = manager_.CallsOf(rm::kOpReset).at(0);
  EXPECT_EQ(reset.position_block, std::string(128, ' '));
  EXPECT_EQ(reset.data_length, 0u);
  EXPECT_EQ(reset.key_length, 0);

  CloseAllDataFiles(status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(FindFileSlot(700), -40);
  EXPECT_EQ(CurrentKeyImage(700), "");

  // The saved lock modes outlive the table: the same slot gets its pair.
  OpenFile();
  SetLockMode(700, "-", status);
  manager_.calls.clear();
  ReadByKey(700, 0, "k", 0, status);
  EXPECT_EQ(manager_.Operations().at(0), rm::kOpGetEqual + rm::kLockBias);
}

}  // namespace
}  // namespace tarnevos
