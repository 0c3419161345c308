#include "data/data_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "data/access_layer.h"
#include "data/file_table.h"
#include "data/key_spec.h"
#include "data/scripted_record_manager.h"
#include "settings/session.h"

namespace tarnevos {
namespace {

TEST(FieldAccess, IntegersAreLittleEndianAndTextsBlankPadded) {
  std::vector<uint8_t> record(12, 0xAA);
  PutInt32(record.data(), 1, -2);
  PutInt16(record.data(), 5, -300);
  EXPECT_EQ(record[1], 0xFE);
  EXPECT_EQ(record[4], 0xFF);
  EXPECT_EQ(record[5], 0xD4);
  EXPECT_EQ(record[6], 0xFE);
  EXPECT_EQ(GetInt32(record.data(), 1), -2);
  EXPECT_EQ(GetInt16(record.data(), 5), -300);
  PutInt32(record.data(), 7, 0x7FFFFFFF);
  EXPECT_EQ(GetInt32(record.data(), 7), 0x7FFFFFFF);
  EXPECT_EQ(record[10], 0x7F);
  EXPECT_EQ(record[11], 0xAA);

  std::vector<uint8_t> text(8, 'x');
  PutText(text.data(), 1, 4, "ab");
  EXPECT_EQ(GetBytes(text.data(), 0, 8), "xab  xxx");
  PutText(text.data(), 1, 4, "abcdefg");
  EXPECT_EQ(GetBytes(text.data(), 0, 8), "xabcdxxx");
  PutBytes(text.data(), 6, std::string("\0\1", 2));
  EXPECT_EQ(GetBytes(text.data(), 5, 3), std::string("x\0\1", 3));
}

TEST(FileLayouts, FieldsAndKeysFitTheirRecordsWithoutOverlapping) {
  const auto& layouts = FileLayouts();
  std::vector<std::string> names;
  for (const FileLayout& layout : layouts) {
    names.push_back(layout.name);
    std::vector<bool> used(layout.record_length, false);
    for (const FieldSpec& field : layout.fields) {
      ASSERT_LE(field.offset + field.width, layout.record_length)
          << layout.name << "." << field.name;
      for (size_t i = field.offset; i < field.offset + field.width; ++i) {
        EXPECT_FALSE(used[i]) << layout.name << "." << field.name;
        used[i] = true;
      }
    }
    // Key 0 starts at the record's first byte and lies within it; a key
    // with duplicates says so on every segment.
    ASSERT_FALSE(layout.key0.empty());
    EXPECT_EQ(layout.key0.front().position, 1);
    bool duplicates = layout.key0.front().flags & kSegmentDuplicates;
    for (size_t s = 0; s < layout.key0.size(); ++s) {
      const KeySegmentSpec& segment = layout.key0[s];
      EXPECT_LE(segment.position - 1u + segment.length, layout.record_length);
      EXPECT_EQ((segment.flags & kSegmentContinues) != 0,
                s + 1 < layout.key0.size());
      EXPECT_EQ((segment.flags & kSegmentDuplicates) != 0, duplicates);
    }
    EXPECT_EQ(FindFileLayout(layout.name), &layout);
  }
  EXPECT_THAT(names, ::testing::ElementsAre("THRebut", "FinquesH", "FinDespH",
                                            "PropietH", "PagamH", "CobramH"));
  EXPECT_EQ(FindFileLayout("cobramh"), &layouts.back());
  EXPECT_EQ(FindFileLayout("Cobram"), nullptr);
}

TEST(FileLayouts, DictionariesDescribeRecordLengthAndKeyZero) {
  for (const FileLayout& layout : FileLayouts()) {
    std::string dictionary = DictionaryBytes(layout);
    auto* bytes = reinterpret_cast<const uint8_t*>(dictionary.data());
    ASSERT_EQ(static_cast<size_t>(GetInt16(bytes, 0)), dictionary.size() - 2);
    std::span<const uint8_t> spec(bytes + 2, dictionary.size() - 2);
    EXPECT_EQ(RecordLengthOf(spec), static_cast<int32_t>(layout.record_length))
        << layout.name;
    int key_length = 0;
    for (const KeySegmentSpec& segment : layout.key0) {
      key_length += segment.length;
    }
    EXPECT_EQ(KeyLengthOf(spec, 0), key_length) << layout.name;
    EXPECT_EQ(KeyLengthOf(spec, 1), 0) << layout.name;
  }
}

TEST(DataFiles, OpenersUseTheRootHandlesAndAreasInTheDriversOrder) {
  TEST_ResetAccessLayer();
  testing::ScriptedRecordManager manager;
  manager.SetStatistics(testing::MakeStatistics(24, 1, {{2, 0}}));
  TEST_MutableSession().root_dir = "R:\\KEL\\";
  OpenAllDataFiles();
  std::vector<std::string> names;
  for (const auto& call : manager.CallsOf(platform::kOpOpen)) {
    names.push_back(call.key.substr(0, call.key.find('\0')));
  }
  EXPECT_THAT(
      names, ::testing::ElementsAre(
                 "R:\\KEL\\DADES\\THRebut.dat", "R:\\KEL\\DADES\\FinquesH.dat",
                 "R:\\KEL\\DADES\\FinDespH.dat", "R:\\KEL\\DADES\\PropietH.dat",
                 "R:\\KEL\\DADES\\PagamH.dat", "R:\\KEL\\DADES\\CobramH.dat"));
  const int16_t handles[] = {kThRebutHandle, kFinquesHandle, kFinDespHandle,
                             kPropietHandle, kPagamHandle,   kCobramHandle};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(FindFileSlot(handles[i]), 40 - i);
    EXPECT_EQ(SlotAt(40 - i)->handle, handles[i]);
  }
  EXPECT_EQ(SlotAt(40)->record_area, Areas().threbut.data());
  EXPECT_EQ(SlotAt(40)->area_size, kThRebutLength);
  EXPECT_EQ(SlotAt(37)->record_area, Areas().propiet.data());
  EXPECT_EQ(SlotAt(37)->area_size, kPropietLength);
  EXPECT_EQ(SlotAt(35)->record_area, Areas().cobram.data());
  TEST_MutableSession() = SessionSettings{};
  TEST_ResetAccessLayer();
}

}  // namespace
}  // namespace tarnevos
