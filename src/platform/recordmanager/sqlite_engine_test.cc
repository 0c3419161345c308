#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/recordmanager/record_manager.h"
#include "platform/recordmanager/test_files.h"
#include "support/scratch.h"
#include "util/little_endian.h"

namespace tarnevos::platform {
namespace {

using record_test::CaseFoldingTable;
using record_test::FileClient;
using record_test::MakeSpec;
using record_test::Reply;
using record_test::Segment;
using ::tarnevos::testing::ScratchDir;

// Records of 16 bytes: a 4-byte code (key 0, unique), a 2-byte little-endian
// number (key 1, duplicates allowed), 10 bytes of payload.
constexpr uint16_t kRecordLength = 16;

std::string CodeSpec() {
  return MakeSpec(kRecordLength,
                  {{{1, 4}}, {{5, 2, kSegmentBinary | kSegmentDuplicates}}});
}

std::string Record(const std::string& code, uint16_t number,
                   const std::string& payload = "") {
  std::string record = code.substr(0, 4);
  record.resize(4, ' ');
  le::AppendU16(record, number);
  record += payload.substr(0, 10);
  record.resize(kRecordLength, '.');
  return record;
}

std::string Number(uint16_t number) {
  std::string bytes;
  le::AppendU16(bytes, number);
  return bytes;
}

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : engine_(MakeSqliteRecordManager()), client_(*engine_) {}

  std::string Path(const std::string& name = "codes.dat") {
    return dir_.path() + name;
  }
  // Creates and opens a file of CodeSpec() holding `records`.
  void OpenWith(const std::vector<std::string>& records) {
    ASSERT_EQ(client_.Create(Path(), CodeSpec()), kStatusOk);
    ASSERT_EQ(client_.Open(Path()), kStatusOk);
    for (const std::string& record : records) {
      ASSERT_EQ(client_.Insert(record), kStatusOk) << record;
    }
  }
  // Codes met walking key `key` from its first record with get next (or
  // from its last with get previous).
  std::vector<std::string> Walk(FileClient& client, int8_t key, bool forward) {
    std::vector<std::string> codes;
    Reply reply = client.Step(forward ? kOpGetFirst : kOpGetLast, key);
    while (reply.status == kStatusOk) {
      codes.push_back(reply.data.substr(0, 4));
      reply = client.Step(forward ? kOpGetNext : kOpGetPrevious, key);
    }
    EXPECT_EQ(reply.status, kStatusEndOfFile);
    return codes;
  }

  ScratchDir dir_;
  std::unique_ptr<RecordManager> engine_;
  FileClient client_;
};

TEST_F(EngineTest, CreateOpenStatAndReadBack) {
  std::string spec = CodeSpec();
  // The creation buffer is blank-padded as the access layer sends it.
  ASSERT_EQ(client_.Create(Path(), spec + std::string(100, ' ')), kStatusOk);
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  Reply stat = client_.Call(kOpStat, "", "", 0);
  EXPECT_EQ(stat.status, kStatusOk);
  EXPECT_EQ(stat.data, spec);
  Reply short_stat = client_.Call(kOpStat, "", "", 0, 20);
  EXPECT_EQ(short_stat.status, kStatusBufferTooShort);
  EXPECT_EQ(short_stat.data, spec.substr(0, 20));

  EXPECT_EQ(client_.Step(kOpGetFirst).status, kStatusEndOfFile);
  ASSERT_EQ(client_.Insert(Record("B001", 7, "hello")), kStatusOk);
  Reply read = client_.Get(kOpGetEqual, "B001");
  EXPECT_EQ(read.status, kStatusOk);
  EXPECT_EQ(read.data, Record("B001", 7, "hello"));
  EXPECT_EQ(read.key, "B001");
  // Closed and reopened by name the record is still there.
  EXPECT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  EXPECT_EQ(client_.Get(kOpGetEqual, Number(7), 1).data,
            Record("B001", 7, "hello"));
}

TEST_F(EngineTest, FileNamesGoThroughTheSuitePathRules) {
  std::filesystem::create_directories(dir_.path() + "DADES");
  // A backslash path, then a different case of the same name.
  ASSERT_EQ(client_.Create(dir_.path() + "DADES\\Codes.dat", CodeSpec()),
            kStatusOk);
  EXPECT_TRUE(dir_.Exists("DADES/Codes.dat"));
  EXPECT_EQ(client_.Open(dir_.path() + "dades\\CODES.DAT"), kStatusOk);
  // A name filling the key buffer without a NUL ends at its last non-blank.
  FileClient other(*engine_);
  std::string name = dir_.path() + "DADES\\Codes.dat";
  EXPECT_EQ(
      other.Call(kOpOpen, "", name + std::string(255 - name.size(), ' '), 0)
          .status,
      kStatusOk);
}

TEST_F(EngineTest, CreateRefusesInconsistentSpecsAndExistingFiles) {
  EXPECT_EQ(client_.Create(Path(), MakeSpec(0, {{{1, 1}}})), kStatusIoError);
  EXPECT_EQ(client_.Create(Path(), MakeSpec(10, {{{9, 3}}})), kStatusIoError);
  EXPECT_EQ(client_.Create(Path(), CodeSpec().substr(0, 30)), kStatusIoError);
  EXPECT_FALSE(dir_.Exists("codes.dat"));
  EXPECT_EQ(client_.Create(dir_.path() + "missing/codes.dat", CodeSpec()),
            kStatusFileNotFound);
  EXPECT_EQ(client_.Create("", CodeSpec()), kStatusFileNotFound);

  ASSERT_EQ(client_.Create(Path(), CodeSpec()), kStatusOk);
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  ASSERT_EQ(client_.Insert(Record("A001", 1)), kStatusOk);
  FileClient creator(*engine_);
  EXPECT_EQ(creator.Create(Path(), CodeSpec(), -1), kStatusFileExists);
  // Overwriting a file this engine has open is refused.
  EXPECT_EQ(creator.Create(Path(), CodeSpec(), 0), kStatusFileLocked);
  EXPECT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  // Once closed, overwriting gives an empty file with the new layout.
  std::string other_spec = MakeSpec(8, {{{1, 8}}});
  ASSERT_EQ(creator.Create(Path(), other_spec, 0), kStatusOk);
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetFirst).status, kStatusEndOfFile);
  EXPECT_EQ(client_.Call(kOpStat, "").data, other_spec);
  // Overwriting a file that is no data file at all is allowed too.
  dir_.Write("junk.dat", "not a database");
  EXPECT_EQ(creator.Create(Path("junk.dat"), CodeSpec(), 0), kStatusOk);
  EXPECT_EQ(creator.Open(Path("junk.dat")), kStatusOk);
}

TEST_F(EngineTest, OpenReportsMissingAndForeignFiles) {
  ASSERT_EQ(client_.Create(Path(), CodeSpec()), kStatusOk);
  std::string good = dir_.Read("codes.dat");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_.path() + "foreign.dat").c_str(), &db),
              SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES (1);", nullptr,
                 nullptr, nullptr);
    sqlite3_close(db);
  }
  dir_.Write("empty.dat", "");
  dir_.Write("text.dat", "RECORD 1\nRECORD 2\n");
  dir_.Write("header.dat",
             std::string("SQLite format 3\0", 16) + std::string(4000, '\x7F'));
  dir_.Write("cut.dat", good.substr(0, good.size() / 2));
  std::string scrambled = good;
  for (size_t i = 100; i < scrambled.size(); i += 7) scrambled[i] ^= 0x5A;
  dir_.Write("scrambled.dat", scrambled);
  std::filesystem::create_directories(dir_.path() + "folder.dat");
  struct Case {
    std::string name;
    int16_t status;
  };
  const Case cases[] = {
      {"absent.dat", kStatusFileNotFound},
      {"nodir/absent.dat", kStatusFileNotFound},
      {"empty.dat", kStatusNotADataFile},
      {"text.dat", kStatusNotADataFile},
      {"foreign.dat", kStatusNotADataFile},
      {"header.dat", kStatusNotADataFile},
      {"cut.dat", kStatusNotADataFile},
      {"scrambled.dat", kStatusNotADataFile},
      {"folder.dat", kStatusNotADataFile},
  };
  for (const Case& c : cases) {
    FileClient client(*engine_);
    EXPECT_EQ(client.Open(Path(c.name)), c.status) << c.name;
    EXPECT_EQ(client.Step(kOpGetFirst).status, kStatusNotOpen) << c.name;
  }
  // Looking at a foreign file leaves it as it was.
  EXPECT_EQ(dir_.Read("text.dat"), "RECORD 1\nRECORD 2\n");
  EXPECT_EQ(dir_.Read("empty.dat"), "");
}

TEST_F(EngineTest, BlocksThatNameNoOpenFileGiveNotOpen) {
  OpenWith({Record("A001", 1)});
  std::array<uint8_t, kPositionBlockSize> copy;
  std::memcpy(copy.data(), client_.block(), copy.size());

  std::vector<std::pair<const char*, std::array<uint8_t, 128>>> blocks;
  std::array<uint8_t, 128> zeros{}, blanks, flipped = copy, stretched = copy;
  blanks.fill(' ');
  flipped[9] ^= 1;    // another slot
  stretched[20] = 3;  // key number changed behind the engine's back
  blocks = {{"zeros", zeros},
            {"blanks", blanks},
            {"slot changed", flipped},
            {"key changed", stretched}};
  for (auto& [name, block] : blocks) {
    uint32_t length = 100;
    uint8_t data[100];
    uint8_t key[255] = {};
    EXPECT_EQ(
        engine_->Call(kOpGetFirst, block.data(), data, &length, key, 255, 0),
        kStatusNotOpen)
        << name;
  }
  EXPECT_EQ(
      engine_->Call(kOpGetFirst, nullptr, nullptr, nullptr, nullptr, 0, 0),
      kStatusNotOpen);
  // Another engine does not know this engine's blocks.
  std::unique_ptr<RecordManager> stranger = MakeSqliteRecordManager();
  uint32_t length = 0;
  EXPECT_EQ(
      stranger->Call(kOpStat, copy.data(), nullptr, &length, nullptr, 0, 0),
      kStatusNotOpen);
  // Closed: the block and any copy of it are dead.
  EXPECT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  EXPECT_EQ(client_.Call(kOpClose, "").status, kStatusNotOpen);
  EXPECT_EQ(
      engine_->Call(kOpStat, copy.data(), nullptr, &length, nullptr, 0, 0),
      kStatusNotOpen);
  // A new file in the same slot does not revive the old copy.
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  EXPECT_EQ(
      engine_->Call(kOpStat, copy.data(), nullptr, &length, nullptr, 0, 0),
      kStatusNotOpen);
  // Reset closes everything.
  EXPECT_EQ(client_.Call(kOpReset, "").status, kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetFirst).status, kStatusNotOpen);
}

TEST_F(EngineTest, OperationCodesAndLockBias) {
  OpenWith({Record("A001", 1), Record("A002", 2)});
  EXPECT_EQ(client_.Get(kOpGetEqual + kLockBias, "A002").data,
            Record("A002", 2));
  EXPECT_EQ(client_.Step(kOpGetPrevious + kLockBias).data, Record("A001", 1));
  EXPECT_EQ(client_.Step(kOpGetFirst + 100).status, kStatusOk);
  EXPECT_EQ(client_.Call(kOpInsert + kLockBias, Record("A003", 3)).status,
            kStatusInvalidOperation);
  EXPECT_EQ(client_.Call(99, "").status, kStatusInvalidOperation);
  EXPECT_EQ(client_.Call(19, "").status, kStatusInvalidOperation);
  EXPECT_EQ(client_.Call(-1, "").status, kStatusInvalidOperation);
  for (int8_t key : {-1, 2, 100}) {
    EXPECT_EQ(client_.Get(kOpGetEqual, "A001", key).status,
              kStatusInvalidKeyNumber);
    EXPECT_EQ(client_.Step(kOpGetFirst, key).status, kStatusInvalidKeyNumber);
    EXPECT_EQ(client_.Step(kOpGetNext, key).status, kStatusInvalidKeyNumber);
    EXPECT_EQ(client_.GetDirect(1, key).status, kStatusInvalidKeyNumber);
    EXPECT_EQ(client_.Insert(Record("A009", 9), key), kStatusInvalidKeyNumber);
  }
}

TEST_F(EngineTest, KeyedReadsFindTheRightRecord) {
  // Key 1 holds 10, 20, 20, 30 (the two 20s in insertion order).
  OpenWith({Record("C030", 30), Record("A020", 20), Record("B020", 20),
            Record("D010", 10)});
  struct Case {
    int16_t operation;
    std::string key;
    int8_t key_number;
    int16_t status;
    std::string code;
  };
  const Case cases[] = {
      {kOpGetEqual, "B020", 0, kStatusOk, "B020"},
      {kOpGetEqual, "B021", 0, kStatusKeyNotFound, ""},
      {kOpGetEqual, Number(20), 1, kStatusOk, "A020"},  // first duplicate
      {kOpGetGreater, "B020", 0, kStatusOk, "C030"},
      {kOpGetGreater, Number(10), 1, kStatusOk, "A020"},
      {kOpGetGreater, "D010", 0, kStatusEndOfFile, ""},
      {kOpGetGreaterOrEqual, "B020", 0, kStatusOk, "B020"},
      {kOpGetGreaterOrEqual, "B", 0, kStatusOk, "B020"},  // zero-padded
      {kOpGetGreaterOrEqual, Number(20), 1, kStatusOk, "A020"},
      {kOpGetGreaterOrEqual, Number(31), 1, kStatusEndOfFile, ""},
      {kOpGetLess, "B020", 0, kStatusOk, "A020"},
      {kOpGetLess, Number(30), 1, kStatusOk, "B020"},  // last duplicate
      {kOpGetLess, "A020", 0, kStatusEndOfFile, ""},
      {kOpGetLessOrEqual, "B020", 0, kStatusOk, "B020"},
      {kOpGetLessOrEqual, Number(25), 1, kStatusOk, "B020"},
      {kOpGetLessOrEqual, Number(9), 1, kStatusEndOfFile, ""},
      {kOpGetFirst, "", 0, kStatusOk, "A020"},
      {kOpGetFirst, "", 1, kStatusOk, "D010"},
      {kOpGetLast, "", 0, kStatusOk, "D010"},
      {kOpGetLast, "", 1, kStatusOk, "C030"},
  };
  for (const Case& c : cases) {
    Reply reply = client_.Get(c.operation, c.key, c.key_number);
    EXPECT_EQ(reply.status, c.status) << c.operation << " " << c.key;
    if (c.status == kStatusOk) {
      EXPECT_EQ(reply.data.substr(0, 4), c.code) << c.operation << " " << c.key;
    } else {
      EXPECT_EQ(reply.data, "") << c.operation;
    }
  }
  // The key buffer gets the found record's key value.
  EXPECT_EQ(client_.Get(kOpGetGreaterOrEqual, Number(11), 1).key, Number(20));
  EXPECT_EQ(client_.Get(kOpGetGreater, std::string("A\0\0\0", 4), 0).key,
            "A020");
}

TEST_F(EngineTest, BinaryCollatedAndMultiSegmentKeysOrderRecords) {
  std::array<uint8_t, 256> table = CaseFoldingTable();
  // Key 0: 2-byte binary; key 1: 4 collated bytes; key 2: 1 text byte, then
  // a 2-byte binary number.
  std::string spec =
      MakeSpec(8,
               {{{1, 2, kSegmentBinary}},
                {{3, 4, kSegmentCollated | kSegmentDuplicates}},
                {{7, 1, kSegmentDuplicates}, {1, 2, kSegmentBinary}}},
               &table);
  ASSERT_EQ(client_.Create(Path(), spec), kStatusOk);
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  auto record = [](uint16_t number, const std::string& word, char group) {
    return Number(number) + word + std::string(1, group) + "!";
  };
  for (const std::string& r :
       {record(0x0100, "beta", 'x'), record(0x00FF, "Alfa", 'y'),
        record(0x0001, "ALFA", 'x'), record(0x1000, "Gama", 'x'),
        record(0x0200, "delt", 'a')}) {
    ASSERT_EQ(client_.Insert(r), kStatusOk);
  }
  auto walk = [&](int8_t key, bool forward) {
    std::vector<uint16_t> numbers;
    Reply reply = client_.Step(forward ? kOpGetFirst : kOpGetLast, key);
    while (reply.status == kStatusOk) {
      numbers.push_back(le::LoadU16(reply.data.data()));
      reply = client_.Step(forward ? kOpGetNext : kOpGetPrevious, key);
    }
    return numbers;
  };
  EXPECT_EQ(walk(0, true),
            (std::vector<uint16_t>{0x0001, 0x00FF, 0x0100, 0x0200, 0x1000}));
  // "Alfa" and "ALFA" collate equal: insertion order; then beta, delt, Gama.
  EXPECT_EQ(walk(1, true),
            (std::vector<uint16_t>{0x00FF, 0x0001, 0x0100, 0x0200, 0x1000}));
  EXPECT_EQ(walk(1, false),
            (std::vector<uint16_t>{0x1000, 0x0200, 0x0100, 0x0001, 0x00FF}));
  EXPECT_EQ(walk(2, true),
            (std::vector<uint16_t>{0x0200, 0x0001, 0x0100, 0x1000, 0x00FF}));
  // Collated lookups ignore case; the key buffer returns the stored bytes.
  Reply found = client_.Get(kOpGetEqual, "GAMA", 1);
  EXPECT_EQ(found.status, kStatusOk);
  EXPECT_EQ(found.key.substr(0, 4), "Gama");
  // Binary key values are given as the numbers' stored bytes.
  EXPECT_EQ(client_.Get(kOpGetGreater, Number(0x00FF), 0).data.substr(0, 2),
            Number(0x0100));
  EXPECT_EQ(client_.Get(kOpGetLessOrEqual, std::string("x") + Number(0x00FF), 2)
                .data.substr(0, 2),
            Number(0x0001));
}

TEST_F(EngineTest, DuplicatesKeepInsertionOrderAndUniqueKeysRefuseThem) {
  OpenWith({});
  std::vector<std::string> codes;
  // 40 duplicates of 5 around records of 4 and 6.
  ASSERT_EQ(client_.Insert(Record("Z000", 4)), kStatusOk);
  for (int i = 0; i < 40; ++i) {
    std::string code = "D" + std::to_string(100 + (i * 37) % 100);
    codes.push_back(code);
    ASSERT_EQ(client_.Insert(Record(code, 5)), kStatusOk);
  }
  ASSERT_EQ(client_.Insert(Record("A000", 6)), kStatusOk);
  std::vector<std::string> expected = {"Z000"};
  expected.insert(expected.end(), codes.begin(), codes.end());
  expected.push_back("A000");
  EXPECT_EQ(Walk(client_, 1, true), expected);
  std::vector<std::string> backwards(expected.rbegin(), expected.rend());
  EXPECT_EQ(Walk(client_, 1, false), backwards);

  // Key 0 is unique: insert and update are refused and change nothing.
  EXPECT_EQ(client_.Insert(Record("D137", 9)), kStatusDuplicateKey);
  ASSERT_EQ(client_.Get(kOpGetEqual, "A000").status, kStatusOk);
  Reply update = client_.Call(kOpUpdate, Record("Z000", 6), "", 0, 16);
  EXPECT_EQ(update.status, kStatusDuplicateKey);
  EXPECT_EQ(client_.Get(kOpGetEqual, "A000").data, Record("A000", 6));
  // Rewriting a record with its own key is no duplicate.
  update = client_.Call(kOpUpdate, Record("A000", 6, "changed"), "", 0, 16);
  EXPECT_EQ(update.status, kStatusOk);
  EXPECT_EQ(update.key.substr(0, 4), "A000");
  EXPECT_EQ(Walk(client_, 0, true).size(), 42u);
}

TEST_F(EngineTest, StepsAcrossTheEndsKeepTheCurrentRecord) {
  OpenWith({Record("A001", 1), Record("A002", 2), Record("A003", 3)});
  ASSERT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  // Nothing read yet: no place to step from.
  EXPECT_EQ(client_.Step(kOpGetNext).status, kStatusInvalidPositioning);
  EXPECT_EQ(client_.Step(kOpGetPrevious).status, kStatusInvalidPositioning);
  EXPECT_EQ(client_.Call(kOpUpdate, Record("A001", 1), "", 0, 16).status,
            kStatusInvalidPositioning);
  EXPECT_EQ(client_.Call(kOpDelete, "").status, kStatusInvalidPositioning);
  EXPECT_EQ(client_.Call(kOpGetPosition, "", "", 0, 4).status,
            kStatusInvalidPositioning);

  ASSERT_EQ(client_.Step(kOpGetLast).status, kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetNext).status, kStatusEndOfFile);
  EXPECT_EQ(client_.Step(kOpGetNext).status, kStatusEndOfFile);
  EXPECT_EQ(client_.Step(kOpGetPrevious).data, Record("A002", 2));
  EXPECT_EQ(client_.Step(kOpGetPrevious).data, Record("A001", 1));
  EXPECT_EQ(client_.Step(kOpGetPrevious).status, kStatusEndOfFile);
  EXPECT_EQ(client_.Step(kOpGetNext).data, Record("A002", 2));
  // A failed keyed read leaves the place where it was too.
  EXPECT_EQ(client_.Get(kOpGetEqual, "ZZZZ").status, kStatusKeyNotFound);
  EXPECT_EQ(client_.Step(kOpGetNext).data, Record("A003", 3));
  // Stepping with another key number goes on along that key from the
  // current record.
  ASSERT_EQ(client_.Get(kOpGetEqual, Number(2), 1).status, kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetNext, 0).data, Record("A003", 3));
}

TEST_F(EngineTest, PositionsStayWithTheirRecords) {
  OpenWith({});
  std::vector<uint32_t> positions;
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(client_.Insert(Record("P00" + std::to_string(i), i)), kStatusOk);
    positions.push_back(client_.Position());
    EXPECT_NE(positions.back(), 0u);
  }
  // Delete the second and the last; the others keep their positions.
  ASSERT_EQ(client_.GetDirect(positions[1]).status, kStatusOk);
  ASSERT_EQ(client_.Call(kOpDelete, "").status, kStatusOk);
  ASSERT_EQ(client_.GetDirect(positions[5]).status, kStatusOk);
  ASSERT_EQ(client_.Call(kOpDelete, "").status, kStatusOk);
  // A new record does not take a freed position.
  ASSERT_EQ(client_.Insert(Record("P009", 9)), kStatusOk);
  uint32_t fresh = client_.Position();
  for (uint32_t old : positions) EXPECT_NE(fresh, old);
  for (int i : {0, 2, 3, 4}) {
    Reply reply = client_.GetDirect(positions[i]);
    EXPECT_EQ(reply.status, kStatusOk);
    EXPECT_EQ(reply.data, Record("P00" + std::to_string(i), i));
    EXPECT_EQ(client_.Position(), positions[i]);
  }
  EXPECT_EQ(client_.GetDirect(positions[1]).status, kStatusInvalidPositioning);
  EXPECT_EQ(client_.GetDirect(0).status, kStatusInvalidPositioning);
  EXPECT_EQ(client_.GetDirect(0xFFFFFFFFu).status, kStatusInvalidPositioning);
  EXPECT_EQ(client_.Call(kOpGetDirect, "", "", 0, 3).status,
            kStatusBufferTooShort);
  // Get direct sets the key path: on key 1 the record after number 3 is 4.
  ASSERT_EQ(client_.GetDirect(positions[3], 1).status, kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetNext, 1).data, Record("P004", 4));
  // The position survives closing and reopening.
  ASSERT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  EXPECT_EQ(client_.GetDirect(positions[4]).data, Record("P004", 4));
}

TEST_F(EngineTest, DeleteKeepsThePlaceForTheNextStep) {
  OpenWith({Record("A001", 1), Record("A002", 2), Record("A003", 3)});
  ASSERT_EQ(client_.Get(kOpGetEqual, "A002").status, kStatusOk);
  ASSERT_EQ(client_.Call(kOpDelete, "").status, kStatusOk);
  EXPECT_EQ(client_.Call(kOpDelete, "").status, kStatusInvalidPositioning);
  EXPECT_EQ(client_.Call(kOpUpdate, Record("A002", 2), "", 0, 16).status,
            kStatusInvalidPositioning);
  EXPECT_EQ(client_.Call(kOpGetPosition, "", "", 0, 4).status,
            kStatusInvalidPositioning);
  EXPECT_EQ(client_.Step(kOpGetNext).data, Record("A003", 3));
  ASSERT_EQ(client_.Get(kOpGetEqual, "A003").status, kStatusOk);
  ASSERT_EQ(client_.Call(kOpDelete, "").status, kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetPrevious).data, Record("A001", 1));
  EXPECT_EQ(Walk(client_, 0, true), std::vector<std::string>{"A001"});
}

TEST_F(EngineTest, ShortBuffersTruncateReadsAndRefuseWrites) {
  OpenWith({Record("A001", 1, "0123456789"), Record("A002", 2)});
  Reply reply = client_.Call(kOpGetEqual, "", "A001", 0, 6);
  EXPECT_EQ(reply.status, kStatusBufferTooShort);
  EXPECT_EQ(reply.data, Record("A001", 1).substr(0, 6));
  EXPECT_EQ(reply.key, "A001");
  // The truncated read still made the record current.
  EXPECT_EQ(client_.Step(kOpGetNext).data, Record("A002", 2));
  reply = client_.Call(kOpGetPrevious, "", "", 0, 0);
  EXPECT_EQ(reply.status, kStatusBufferTooShort);
  EXPECT_EQ(reply.data, "");
  EXPECT_EQ(client_.Position(), 1u);
  // A larger buffer gets exactly the record.
  EXPECT_EQ(client_.Call(kOpGetFirst, "", "", 0, 1000).data.size(), 16u);
  // A key buffer shorter than the key gets the first bytes only.
  reply = client_.Call(kOpGetFirst, "", "ab", 0);
  EXPECT_EQ(reply.key, "A0");
  // Writes need the whole record.
  EXPECT_EQ(client_.Call(kOpInsert, Record("A003", 3), "", 0, 15).status,
            kStatusBufferTooShort);
  EXPECT_EQ(client_.Call(kOpUpdate, Record("A001", 9), "", 0, 15).status,
            kStatusBufferTooShort);
  EXPECT_EQ(Walk(client_, 0, true), (std::vector<std::string>{"A001", "A002"}));
}

TEST_F(EngineTest, InsertAndUpdateMakeTheRecordCurrent) {
  OpenWith({Record("A001", 5), Record("A003", 1)});
  Reply inserted = client_.Call(kOpInsert, Record("A002", 3), "", 1, 16);
  EXPECT_EQ(inserted.status, kStatusOk);
  EXPECT_EQ(inserted.key.substr(0, 2), Number(3));
  // Current on key 1 (numbers 1, 3, 5): next is number 5.
  EXPECT_EQ(client_.Step(kOpGetNext, 1).data.substr(0, 4), "A001");
  // Changing the key moves the record along its key path.
  ASSERT_EQ(client_.Get(kOpGetEqual, "A003").status, kStatusOk);
  ASSERT_EQ(client_.Call(kOpUpdate, Record("A004", 1), "", 0, 16).status,
            kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetPrevious).data.substr(0, 4), "A002");
  EXPECT_EQ(Walk(client_, 0, true),
            (std::vector<std::string>{"A001", "A002", "A004"}));
}

TEST_F(EngineTest, InsertManyIsAllOrNothing) {
  OpenWith({Record("A500", 1)});
  std::string batch;
  for (int i = 0; i < 1000; ++i) {
    batch += Record("B" + std::to_string(1000 + i).substr(1), i);
  }
  std::string with_duplicate = batch + Record("A500", 7) + Record("C000", 8);
  uint32_t failed = 0;
  EXPECT_EQ(engine_->InsertMany(
                client_.block(),
                reinterpret_cast<const uint8_t*>(with_duplicate.data()), 16,
                1002, 0, &failed),
            kStatusDuplicateKey);
  EXPECT_EQ(failed, 1000u);
  EXPECT_EQ(Walk(client_, 0, true).size(), 1u);
  ASSERT_EQ(engine_->InsertMany(client_.block(),
                                reinterpret_cast<const uint8_t*>(batch.data()),
                                16, 1000, 1, &failed),
            kStatusOk);
  EXPECT_EQ(Walk(client_, 0, true).size(), 1001u);
  // The last record is current on the key asked for.
  EXPECT_EQ(client_.Step(kOpGetLast, 1).data.substr(0, 4), "B999");
  ASSERT_EQ(engine_->InsertMany(client_.block(),
                                reinterpret_cast<const uint8_t*>(batch.data()),
                                16, 0, 0, &failed),
            kStatusOk);
  // The default (for other record managers) inserts one by one.
  class Counting : public RecordManager {
   public:
    int16_t Call(int16_t operation, uint8_t*, uint8_t* data, uint32_t* length,
                 uint8_t*, uint8_t, int8_t) override {
      seen.emplace_back(reinterpret_cast<char*>(data), *length);
      return operation == kOpInsert && seen.size() < 3 ? kStatusOk
                                                       : kStatusDuplicateKey;
    }
    std::vector<std::string> seen;
  } counting;
  EXPECT_EQ(counting.InsertMany(client_.block(),
                                reinterpret_cast<const uint8_t*>(batch.data()),
                                16, 5, 0, &failed),
            kStatusDuplicateKey);
  EXPECT_EQ(failed, 2u);
  EXPECT_EQ(counting.seen.back(), batch.substr(32, 16));
}

TEST_F(EngineTest, ReadsSeeWritesMadeThroughOtherConnections) {
  // Codes K000, K002, ... K398, so that others fit between them; enough
  // records for the stepping handle to read ahead past the changed ones.
  auto code = [](int i) {
    return "K" + std::to_string(1000 + 2 * i).substr(1);
  };
  std::vector<std::string> records;
  for (int i = 0; i < 200; ++i) records.push_back(Record(code(i), 1));
  OpenWith(records);
  std::unique_ptr<RecordManager> elsewhere = MakeSqliteRecordManager();
  for (RecordManager* writer_engine : {engine_.get(), elsewhere.get()}) {
    FileClient writer(*writer_engine);
    ASSERT_EQ(writer.Open(Path()), kStatusOk);
    ASSERT_EQ(client_.Get(kOpGetEqual, code(10)).status, kStatusOk);
    for (int i = 0; i < 20; ++i) {
      ASSERT_EQ(client_.Step(kOpGetNext).status, kStatusOk);
    }
    ASSERT_EQ(client_.Step(kOpGetNext).data.substr(0, 4), code(31));
    // Insert right after the reader's record, change the one after that,
    // delete the third.
    ASSERT_EQ(writer.Insert(Record("K063", 9)), kStatusOk);
    ASSERT_EQ(writer.Get(kOpGetEqual, code(32)).status, kStatusOk);
    ASSERT_EQ(
        writer.Call(kOpUpdate, Record(code(32), 2, "new"), "", 0, 16).status,
        kStatusOk);
    ASSERT_EQ(writer.Get(kOpGetEqual, code(33)).status, kStatusOk);
    ASSERT_EQ(writer.Call(kOpDelete, "").status, kStatusOk);
    EXPECT_EQ(client_.Step(kOpGetNext).data, Record("K063", 9));
    EXPECT_EQ(client_.Step(kOpGetNext).data, Record(code(32), 2, "new"));
    EXPECT_EQ(client_.Step(kOpGetNext).data.substr(0, 4), code(34));
    // Lookups by key value see changes too.
    EXPECT_EQ(client_.Get(kOpGetEqual, code(50)).data, Record(code(50), 1));
    EXPECT_EQ(client_.Get(kOpGetEqual, code(199)).data, Record(code(199), 1));
    ASSERT_EQ(writer.Get(kOpGetEqual, code(50)).status, kStatusOk);
    ASSERT_EQ(
        writer.Call(kOpUpdate, Record(code(50), 3, "x"), "", 0, 16).status,
        kStatusOk);
    ASSERT_EQ(writer.Get(kOpGetEqual, code(199)).status, kStatusOk);
    ASSERT_EQ(writer.Call(kOpDelete, "").status, kStatusOk);
    EXPECT_EQ(client_.Get(kOpGetEqual, code(50)).data,
              Record(code(50), 3, "x"));
    EXPECT_EQ(client_.Get(kOpGetEqual, code(199)).status, kStatusKeyNotFound);
    ASSERT_EQ(writer.Insert(Record(code(199), 1)), kStatusOk);
    EXPECT_EQ(client_.Get(kOpGetEqual, code(199)).status, kStatusOk);
    // Put things back for the second round.
    ASSERT_EQ(writer.Get(kOpGetEqual, "K063").status, kStatusOk);
    ASSERT_EQ(writer.Call(kOpDelete, "").status, kStatusOk);
    ASSERT_EQ(writer.Insert(Record(code(33), 1)), kStatusOk);
    ASSERT_EQ(writer.Get(kOpGetEqual, code(32)).status, kStatusOk);
    ASSERT_EQ(writer.Call(kOpUpdate, Record(code(32), 1), "", 0, 16).status,
              kStatusOk);
    ASSERT_EQ(writer.Get(kOpGetEqual, code(50)).status, kStatusOk);
    ASSERT_EQ(writer.Call(kOpUpdate, Record(code(50), 1), "", 0, 16).status,
              kStatusOk);
    EXPECT_EQ(writer.Call(kOpClose, "").status, kStatusOk);
  }
}

TEST_F(EngineTest, AFileSwitchedToARollbackJournalStillSeesOtherWriters) {
  std::vector<std::string> records;
  for (int i = 0; i < 60; ++i) {
    records.push_back(Record("J" + std::to_string(100 + 2 * i), 1));
  }
  OpenWith(records);
  ASSERT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  {
    // What an administrator might do with the sqlite3 shell.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode = DELETE", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  std::unique_ptr<RecordManager> elsewhere = MakeSqliteRecordManager();
  FileClient writer(*elsewhere);
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  ASSERT_EQ(writer.Open(Path()), kStatusOk);
  EXPECT_EQ(client_.Get(kOpGetEqual, "J110").data, Record("J110", 1));
  ASSERT_EQ(client_.Get(kOpGetEqual, "J100").status, kStatusOk);
  ASSERT_EQ(client_.Step(kOpGetNext).data.substr(0, 4), "J102");
  ASSERT_EQ(writer.Insert(Record("J103", 2)), kStatusOk);
  ASSERT_EQ(writer.Get(kOpGetEqual, "J110").status, kStatusOk);
  ASSERT_EQ(writer.Call(kOpUpdate, Record("J110", 5), "", 0, 16).status,
            kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetNext).data, Record("J103", 2));
  EXPECT_EQ(client_.Step(kOpGetNext).data, Record("J104", 1));
  EXPECT_EQ(client_.Get(kOpGetEqual, "J110").data, Record("J110", 5));
}

TEST_F(EngineTest, SeeksAndStepsAgreeWithAModelOfTheFile) {
  // Runs of duplicates on key 1, read in a random walk of seeks upwards and
  // runs of steps, the way reports read: most seeks are answered from the
  // records read ahead. Another connection inserts now and then. Every
  // answer must be what the file holds.
  struct Entry {
    uint16_t number;
    std::string code;
  };
  std::vector<Entry> model;  // in key 1 order: number, then insertion
  int serial = 0;
  auto next_code = [&serial] {
    return "G" + std::to_string(1000 + serial++).substr(1);
  };
  std::vector<std::string> records;
  for (uint16_t number = 2; number <= 120; number += 2) {
    for (int i = 0; i < number % 7 + 1; ++i) {
      model.push_back({number, next_code()});
      records.push_back(Record(model.back().code, number));
    }
  }
  OpenWith(records);
  std::unique_ptr<RecordManager> elsewhere = MakeSqliteRecordManager();
  FileClient writer(*elsewhere);
  ASSERT_EQ(writer.Open(Path()), kStatusOk);

  std::mt19937 random(20261208);
  auto below = [&random](int limit) {
    return static_cast<int>(random() % static_cast<unsigned>(limit));
  };
  ASSERT_EQ(client_.Get(kOpGetGreaterOrEqual, Number(0), 1).data.substr(0, 4),
            model.front().code);
  size_t current = 0;
  for (int move = 0; move < 3000; ++move) {
    const int what = below(20);
    if (what < 8) {
      const bool greater = what < 3;
      const uint16_t value = static_cast<uint16_t>(below(124));
      auto found = std::partition_point(
          model.begin(), model.end(), [&](const Entry& entry) {
            return greater ? entry.number <= value : entry.number < value;
          });
      Reply reply = client_.Get(greater ? kOpGetGreater : kOpGetGreaterOrEqual,
                                Number(value), 1);
      if (found == model.end()) {
        ASSERT_EQ(reply.status, kStatusEndOfFile) << move;
        continue;
      }
      ASSERT_EQ(reply.status, kStatusOk) << move;
      ASSERT_EQ(reply.data.substr(0, 4), found->code)
          << "move " << move << (greater ? ": greater " : ": from ") << value;
      current = static_cast<size_t>(found - model.begin());
    } else if (what < 19) {
      for (int steps = below(12) + 1; steps > 0; --steps) {
        Reply reply = client_.Step(kOpGetNext, 1);
        if (current + 1 == model.size()) {
          ASSERT_EQ(reply.status, kStatusEndOfFile) << move;
          break;
        }
        ASSERT_EQ(reply.status, kStatusOk) << move;
        ASSERT_EQ(reply.data.substr(0, 4), model[++current].code) << move;
      }
    } else {
      const uint16_t number = static_cast<uint16_t>(below(124));
      Entry entry{number, next_code()};
      ASSERT_EQ(writer.Insert(Record(entry.code, number)), kStatusOk);
      auto at = std::partition_point(
          model.begin(), model.end(),
          [number](const Entry& e) { return e.number <= number; });
      if (static_cast<size_t>(at - model.begin()) <= current) ++current;
      model.insert(at, entry);
    }
  }
}

TEST_F(EngineTest, ACopiedPositionBlockReturnsToItsPlace) {
  std::vector<std::string> records;
  for (int i = 0; i < 50; ++i) {
    records.push_back(Record("R" + std::to_string(100 + i), i));
  }
  OpenWith(records);
  ASSERT_EQ(client_.Get(kOpGetEqual, "R110").status, kStatusOk);
  std::array<uint8_t, kPositionBlockSize> saved;
  std::memcpy(saved.data(), client_.block(), saved.size());
  for (int i = 0; i < 15; ++i) ASSERT_EQ(client_.Step(kOpGetNext).status, 0);
  std::memcpy(client_.block(), saved.data(), saved.size());
  EXPECT_EQ(client_.Step(kOpGetNext).data.substr(0, 4), "R111");
  std::memcpy(client_.block(), saved.data(), saved.size());
  EXPECT_EQ(client_.Step(kOpGetPrevious).data.substr(0, 4), "R109");
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

// New data files, and their journals, get 0666 less the user's umask, as
// every file the program writes: an office sharing its files by group sets
// a umask of 002.
TEST_F(EngineTest, NewFilesFollowTheUmask) {
  const mode_t old_mask = ::umask(002);
  ASSERT_EQ(client_.Create(Path("group.dat"), CodeSpec()), kStatusOk);
  ASSERT_EQ(client_.Open(Path("group.dat")), kStatusOk);
  ASSERT_EQ(client_.Insert(Record("A001", 1)), kStatusOk);
  EXPECT_EQ(ModeOf(Path("group.dat")), 0664u);
  EXPECT_EQ(ModeOf(Path("group.dat-wal")), 0664u);
  EXPECT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  ::umask(027);
  ASSERT_EQ(client_.Create(Path("private.dat"), CodeSpec()), kStatusOk);
  ::umask(old_mask);
  EXPECT_EQ(ModeOf(Path("private.dat")), 0640u);
}

// Sets or clears the immutable attribute (nobody, root included, may
// change the file or the folder's entries); false where the file system
// or the process's rights do not allow it.
bool SetImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return done;
}

// A read-only installation (a read-only share, a CD: neither the files nor
// their folder can be written) opens for reading: the report only reads.
TEST_F(EngineTest, ReadOnlyFilesOpenForReading) {
  std::filesystem::create_directories(dir_.path() + "ro");
  const std::string path = dir_.path() + "ro/codes.dat";
  ASSERT_EQ(client_.Create(path, CodeSpec()), kStatusOk);
  ASSERT_EQ(client_.Open(path), kStatusOk);
  ASSERT_EQ(client_.Insert(Record("A001", 1)), kStatusOk);
  ASSERT_EQ(client_.Insert(Record("B002", 2)), kStatusOk);
  ASSERT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  const bool immutable =
      SetImmutable(path, true) && SetImmutable(dir_.path() + "ro", true);
  if (!immutable) {
    SetImmutable(path, false);
    if (::geteuid() == 0) GTEST_SKIP() << "cannot make files read-only here";
    ::chmod(path.c_str(), 0444);
    ::chmod((dir_.path() + "ro").c_str(), 0555);
  }
  FileClient reader(*engine_);
  EXPECT_EQ(reader.Open(path), kStatusOk);
  EXPECT_EQ(reader.Step(kOpGetFirst).status, kStatusOk);
  Reply next = reader.Step(kOpGetNext);
  EXPECT_EQ(next.status, kStatusOk);
  EXPECT_EQ(next.data, Record("B002", 2));
  EXPECT_EQ(reader.Step(kOpGetNext).status, kStatusEndOfFile);
  // Writing is refused, not pretended.
  EXPECT_NE(reader.Insert(Record("C003", 3)), kStatusOk);
  EXPECT_EQ(reader.Call(kOpClose, "").status, kStatusOk);
  if (immutable) {
    SetImmutable(dir_.path() + "ro", false);
    SetImmutable(path, false);
  } else {
    ::chmod((dir_.path() + "ro").c_str(), 0755);
  }
  EXPECT_EQ(std::filesystem::directory_iterator(dir_.path() + "ro")->path(),
            path);
}

}  // namespace
}  // namespace tarnevos::platform
