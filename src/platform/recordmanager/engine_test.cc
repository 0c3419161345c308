// Every operation and status of the record manager, on both engines.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/recordmanager/engine_fixture.h"
#include "platform/recordmanager/record_manager.h"
#include "platform/recordmanager/test_files.h"
#include "util/little_endian.h"

namespace tarnevos::platform {
namespace {

using record_test::CaseFoldingTable;
using record_test::EngineFixture;
using record_test::FileClient;
using record_test::MakeSpec;
using record_test::Reply;
using record_test::Segment;

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

class EngineTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    engine_ = NewEngine();
    client_.Use(*engine_);
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

  std::unique_ptr<RecordManager> engine_;
  FileClient client_;
};

TEST_P(EngineTest, CreateOpenStatAndReadBack) {
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

TEST_P(EngineTest, FileNamesGoThroughTheSuitePathRules) {
  std::filesystem::create_directories(dir_.path() + "DADES");
  // A backslash path, then a different case of the same name.
  ASSERT_EQ(client_.Create(dir_.path() + "DADES\\Codes.dat", CodeSpec()),
            kStatusOk);
  EXPECT_TRUE(Exists(dir_.path() + "DADES/Codes.dat"));
  EXPECT_EQ(client_.Open(dir_.path() + "dades\\CODES.DAT"), kStatusOk);
  // A name filling the key buffer without a NUL ends at its last non-blank.
  FileClient other(*engine_);
  std::string name = dir_.path() + "DADES\\Codes.dat";
  EXPECT_EQ(
      other.Call(kOpOpen, "", name + std::string(255 - name.size(), ' '), 0)
          .status,
      kStatusOk);
}

TEST_P(EngineTest, CreateRefusesInconsistentSpecsAndExistingFiles) {
  EXPECT_EQ(client_.Create(Path(), MakeSpec(0, {{{1, 1}}})), kStatusIoError);
  EXPECT_EQ(client_.Create(Path(), MakeSpec(10, {{{9, 3}}})), kStatusIoError);
  EXPECT_EQ(client_.Create(Path(), CodeSpec().substr(0, 30)), kStatusIoError);
  EXPECT_FALSE(Exists(Path()));
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
}

TEST_P(EngineTest, BlocksThatNameNoOpenFileGiveNotOpen) {
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
  std::unique_ptr<RecordManager> stranger = NewEngine();
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

TEST_P(EngineTest, OperationCodesAndLockBias) {
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

TEST_P(EngineTest, KeyedReadsFindTheRightRecord) {
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

TEST_P(EngineTest, BinaryCollatedAndMultiSegmentKeysOrderRecords) {
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

TEST_P(EngineTest, DuplicatesKeepInsertionOrderAndUniqueKeysRefuseThem) {
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

TEST_P(EngineTest, StepsAcrossTheEndsKeepTheCurrentRecord) {
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

TEST_P(EngineTest, PositionsStayWithTheirRecords) {
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

TEST_P(EngineTest, DeleteKeepsThePlaceForTheNextStep) {
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

TEST_P(EngineTest, ShortBuffersTruncateReadsAndRefuseWrites) {
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

TEST_P(EngineTest, InsertAndUpdateMakeTheRecordCurrent) {
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

TEST_P(EngineTest, InsertManyIsAllOrNothing) {
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

TEST_P(EngineTest, ReadsSeeWritesMadeThroughOtherConnections) {
  // Codes K000, K002, ... K398, so that others fit between them; enough
  // records for the stepping handle to read ahead past the changed ones.
  auto code = [](int i) {
    return "K" + std::to_string(1000 + 2 * i).substr(1);
  };
  std::vector<std::string> records;
  for (int i = 0; i < 200; ++i) records.push_back(Record(code(i), 1));
  OpenWith(records);
  std::unique_ptr<RecordManager> elsewhere = NewEngine();
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
    SeeOtherCommits(*engine_);
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
    SeeOtherCommits(*engine_);
    EXPECT_EQ(client_.Get(kOpGetEqual, code(50)).data,
              Record(code(50), 3, "x"));
    EXPECT_EQ(client_.Get(kOpGetEqual, code(199)).status, kStatusKeyNotFound);
    ASSERT_EQ(writer.Insert(Record(code(199), 1)), kStatusOk);
    SeeOtherCommits(*engine_);
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

TEST_P(EngineTest, SeeksAndStepsAgreeWithAModelOfTheFile) {
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
  std::unique_ptr<RecordManager> elsewhere = NewEngine();
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
      SeeOtherCommits(*engine_);
      auto at = std::partition_point(
          model.begin(), model.end(),
          [number](const Entry& e) { return e.number <= number; });
      if (static_cast<size_t>(at - model.begin()) <= current) ++current;
      model.insert(at, entry);
    }
  }
}

TEST_P(EngineTest, ACopiedPositionBlockReturnsToItsPlace) {
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

TEST_P(EngineTest, ExclusiveOpensShutOutEveryOtherOpen) {
  OpenWith({Record("A001", 1)});
  std::unique_ptr<RecordManager> other_engine = NewEngine();
  FileClient other(*other_engine);
  FileClient second(*engine_);
  // Open normally here: no exclusive open, in this engine or another.
  EXPECT_EQ(second.Open(Path(), -4), kStatusFileLocked);
  EXPECT_EQ(other.Open(Path(), -4), kStatusFileLocked);
  EXPECT_EQ(second.Open(Path()), kStatusOk);
  ASSERT_EQ(second.Call(kOpClose, "").status, kStatusOk);
  ASSERT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  // Exclusive elsewhere: nobody else gets in, by any kind of open.
  ASSERT_EQ(other.Open(Path(), -4), kStatusOk);
  EXPECT_EQ(client_.Open(Path()), kStatusFileLocked);
  EXPECT_EQ(client_.Open(Path(), -4), kStatusFileLocked);
  EXPECT_EQ(client_.Step(kOpGetFirst).status, kStatusNotOpen);
  EXPECT_EQ(other.Get(kOpGetEqual, "A001").data, Record("A001", 1));
  // Exclusive in this engine: its other opens are shut out too.
  FileClient third(*other_engine);
  EXPECT_EQ(third.Open(Path()), kStatusFileLocked);
  // Closed: open again for everyone.
  ASSERT_EQ(other.Call(kOpClose, "").status, kStatusOk);
  EXPECT_EQ(client_.Open(Path()), kStatusOk);
  EXPECT_EQ(third.Open(Path()), kStatusOk);
  EXPECT_EQ(client_.Get(kOpGetEqual, "A001").data, Record("A001", 1));
}

TEST_P(EngineTest, FilesAreReplacedAndRemovedWhenNobodyHasThemOpen) {
  OpenWith({Record("A001", 1)});
  FileClient fresh(*engine_);
  ASSERT_EQ(fresh.Create(Path("codes.new"), CodeSpec()), kStatusOk);
  ASSERT_EQ(fresh.Open(Path("codes.new")), kStatusOk);
  ASSERT_EQ(fresh.Insert(Record("B002", 2)), kStatusOk);
  ASSERT_EQ(fresh.Call(kOpClose, "").status, kStatusOk);
  // Open here: the old file may not be replaced, nor removed.
  const std::vector<FileMove> moves = {{Path("codes.new"), Path()}};
  EXPECT_EQ(engine_->ReplaceFiles(moves), kStatusFileLocked);
  EXPECT_EQ(engine_->RemoveFile(Path()), kStatusFileLocked);
  ASSERT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  // Open in another engine: refused as well.
  std::unique_ptr<RecordManager> other_engine = NewEngine();
  FileClient other(*other_engine);
  ASSERT_EQ(other.Open(Path()), kStatusOk);
  EXPECT_EQ(engine_->ReplaceFiles(moves), kStatusFileLocked);
  EXPECT_EQ(engine_->RemoveFile(Path()), kStatusFileLocked);
  ASSERT_EQ(other.Call(kOpClose, "").status, kStatusOk);
  // A move whose file is missing changes nothing, also the moves before it.
  EXPECT_EQ(engine_->ReplaceFiles(
                {moves[0], {Path("absent.new"), Path("absent.dat")}}),
            kStatusFileNotFound);
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetFirst).data, Record("A001", 1));
  ASSERT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  // Nobody has it open: the new file takes the old one's place.
  ASSERT_EQ(engine_->ReplaceFiles(moves), kStatusOk);
  EXPECT_FALSE(Exists(Path("codes.new")));
  ASSERT_EQ(client_.Open(Path()), kStatusOk);
  EXPECT_EQ(client_.Step(kOpGetFirst).data, Record("B002", 2));
  EXPECT_EQ(client_.Step(kOpGetNext).status, kStatusEndOfFile);
  ASSERT_EQ(client_.Call(kOpClose, "").status, kStatusOk);
  EXPECT_EQ(engine_->RemoveFile(Path()), kStatusOk);
  EXPECT_FALSE(Exists(Path()));
  EXPECT_EQ(engine_->RemoveFile(Path()), kStatusFileNotFound);
  EXPECT_EQ(client_.Open(Path()), kStatusFileNotFound);
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineTest,
                         ::testing::ValuesIn(record_test::kEngineKinds),
                         record_test::EngineName);

}  // namespace
}  // namespace tarnevos::platform
