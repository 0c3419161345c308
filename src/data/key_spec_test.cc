#include "data/key_spec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/access_layer.h"
#include "data/scripted_record_manager.h"
#include "support/run_state.h"

namespace tarnevos {
namespace {

using testing::MakeStatistics;

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A collating sequence that maps the lower-case ASCII letters onto the
// upper-case ones and leaves every other byte alone.
std::string CaseBlindSequence() {
  std::string sequence(9, 'X');
  for (int b = 0; b < 256; ++b) {
    char c = static_cast<char>(b);
    if (b >= 'a' && b <= 'z') c = static_cast<char>(b - 'a' + 'A');
    sequence += c;
  }
  return sequence;
}

TEST(KeyLength, WalksTheSegmentsOfEachKey) {
  constexpr uint16_t kNext = kSegmentContinues;
  // Key 0: 4 + 4 bytes; key 1: 2 bytes; key 2: 10 + 1 + 3 bytes.
  const std::string stat = MakeStatistics(
      100, 3, {{4, kNext}, {4, 0}, {2, 0}, {10, kNext}, {1, kNext}, {3, 0}});
  struct Case {
    int key;
    int expected;
  } cases[] = {{0, 8}, {1, 2}, {2, 14}, {3, 0}, {-1, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(KeyLengthOf(Bytes(stat), c.key), c.expected) << "key " << c.key;
  }
  EXPECT_EQ(RecordLengthOf(Bytes(stat)), 100);
  // A continuation bit in the high byte of the flags is no continuation.
  const std::string high = MakeStatistics(10, 2, {{4, 0x1000}, {6, 0}});
  EXPECT_EQ(KeyLengthOf(Bytes(high), 0), 4);
  EXPECT_EQ(KeyLengthOf(Bytes(high), 1), 6);
}

TEST(KeyLength, DescriptionsCutOffByTheBufferGiveNoKey) {
  std::string stat = MakeStatistics(10, 2, {{4, 0}, {6, 0}});
  stat.resize(16 + 16 + 3);  // the second segment's length is incomplete
  EXPECT_EQ(KeyLengthOf(Bytes(stat), 0), 4);
  EXPECT_EQ(KeyLengthOf(Bytes(stat), 1), 0);
  EXPECT_EQ(KeyLengthOf(Bytes(std::string(3, '\0')), 0), 0);
  EXPECT_EQ(RecordLengthOf(Bytes(std::string(1, '\7'))), 0);
}

TEST(KeyImage, ReversesBinarySegmentsAndTranslatesCollatedOnes) {
  const std::string binary = MakeStatistics(10, 1, {{2, kSegmentBinary}});
  // 0x0100 is stored 00 01, 0x00FF as FF 00: the images order them right.
  std::string big = KeyImageOf(Bytes(binary), 0, std::string("\x00\x01", 2));
  std::string small = KeyImageOf(Bytes(binary), 0, std::string("\xFF\x00", 2));
  EXPECT_EQ(big, std::string("\x01\x00", 2));
  EXPECT_EQ(small, std::string("\x00\xFF", 2));
  EXPECT_GT(big, small);
  // A short value is extended with zero bytes before the reversal.
  EXPECT_EQ(KeyImageOf(Bytes(binary), 0, "\x07"), std::string("\x00\x07", 2));

  const std::string mixed =
      MakeStatistics(10, 1, {{2, kSegmentBinary | kSegmentContinues}, {3, 0}});
  EXPECT_EQ(KeyImageOf(Bytes(mixed), 0,
                       "\x01\x02"
                       "abc"),
            "\x02\x01"
            "abc");

  const std::string collated =
      MakeStatistics(10, 1, {{2, kSegmentContinues}, {3, kSegmentCollated}},
                     CaseBlindSequence());
  EXPECT_EQ(KeyImageOf(Bytes(collated), 0, "abcde"), "abCDE");
  EXPECT_EQ(KeyImageOf(Bytes(collated), 0, "abc"), "abC");  // stops early
}

TEST(KeyImage, UsesTheRequestedKeyAndFindsTheTableAfterAllKeys) {
  // Key 0 is binary; key 1 is collated; the table follows key 1's segment.
  const std::string stat = MakeStatistics(
      10, 2, {{2, kSegmentBinary}, {2, kSegmentCollated}}, CaseBlindSequence());
  EXPECT_EQ(KeyImageOf(Bytes(stat), 0, "ab"), "ba");
  EXPECT_EQ(KeyImageOf(Bytes(stat), 1, "ab"), "AB");
  // No such key, or no table where one is needed: the value as it was.
  EXPECT_EQ(KeyImageOf(Bytes(stat), 2, "ab"), "ab");
  const std::string no_table = MakeStatistics(10, 1, {{2, kSegmentCollated}});
  EXPECT_EQ(KeyImageOf(Bytes(no_table), 0, "ab"), "ab");
  const std::string plain = MakeStatistics(10, 1, {{2, 0}});
  EXPECT_EQ(KeyImageOf(Bytes(plain), 0, "ab"), "ab");
}

class KeySpecOnFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    platform::SetRecordManager(&manager_);
  }
  void TearDown() override { testing::ResetRunState(); }
  testing::ScriptedRecordManager manager_;
};

TEST_F(KeySpecOnFiles, HandlesThatAreNotOpenGiveNeutralValues) {
  int16_t key_length = 9;
  int32_t record_length = 9;
  ReadKeyInfo(700, 0, key_length, record_length);
  EXPECT_EQ(key_length, 0);
  EXPECT_EQ(record_length, 0);
  EXPECT_EQ(KeyImage("ab", 700), "ab");
  EXPECT_EQ(CurrentKeyImage(700), "");
  EXPECT_TRUE(manager_.calls.empty());
}

TEST_F(KeySpecOnFiles, StatisticsAreAskedOnceWhileTheyCanBeRead) {
  manager_.SetStatistics(MakeStatistics(30, 2, {{2, kSegmentBinary}, {5, 0}}));
  // The first Stat fails: its answer is used but not kept.
  manager_.Queue(platform::kOpStat, {9, std::string(20, '\0')});
  std::vector<uint8_t> area(30);
  int16_t status = -1;
  OpenDataFile(700, "DADES\\X", area.data(), area.size(), status);
  ASSERT_EQ(status, 0);
  int16_t key_length = 0;
  int32_t record_length = 0;
  ReadKeyInfo(700, 1, key_length, record_length);
  EXPECT_EQ(key_length, 5);
  EXPECT_EQ(record_length, 30);
  ReadKeyInfo(700, 0, key_length, record_length);
  EXPECT_EQ(key_length, 2);
  EXPECT_EQ(KeyImage(std::string("\x01\x02", 2), 700), "\x02\x01");
  EXPECT_EQ(manager_.CallsOf(platform::kOpStat).size(), 2u);
}

}  // namespace
}  // namespace tarnevos
