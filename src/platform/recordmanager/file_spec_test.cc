#include "platform/recordmanager/file_spec.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/recordmanager/test_files.h"

namespace tarnevos::platform {
namespace {

using record_test::CaseFoldingTable;
using record_test::MakeSpec;
using record_test::Segment;

std::vector<Segment> ManySegments(int count) {
  std::vector<Segment> segments;
  for (int i = 0; i < count; ++i) segments.push_back({1, 1});
  return segments;
}

TEST(FileSpecTest, ReadsKeysSegmentsAndCollation) {
  std::array<uint8_t, 256> table = CaseFoldingTable();
  std::string bytes =
      MakeSpec(40,
               {{{1, 4, kSegmentBinary}, {5, 6, kSegmentCollated}},
                {{11, 2, kSegmentDuplicates}}},
               &table);
  // Trailing bytes after the collating sequence are not part of the file
  // description.
  std::optional<FileSpec> spec = ParseFileSpec(bytes + std::string(30, ' '));
  ASSERT_TRUE(spec);
  EXPECT_EQ(spec->record_length, 40);
  ASSERT_EQ(spec->keys.size(), 2u);
  EXPECT_EQ(spec->keys[0].segments.size(), 2u);
  EXPECT_EQ(spec->keys[0].length, 10);
  EXPECT_FALSE(spec->keys[0].duplicates);
  EXPECT_EQ(spec->keys[0].segments[1].offset, 4);
  EXPECT_EQ(spec->keys[1].length, 2);
  EXPECT_TRUE(spec->keys[1].duplicates);
  ASSERT_TRUE(spec->collation);
  EXPECT_EQ((*spec->collation)['q'], 'Q');
  EXPECT_EQ(spec->bytes, bytes);
}

TEST(FileSpecTest, RejectsInconsistentSpecifications) {
  std::array<uint8_t, 256> table = CaseFoldingTable();
  std::vector<std::vector<Segment>> keys24(24, {{1, 1}});
  std::vector<std::vector<Segment>> keys25(25, {{1, 1}});
  std::string collated = MakeSpec(10, {{{1, 2, kSegmentCollated}}}, &table);
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"smallest", MakeSpec(1, {{{1, 1}}}), true},
      {"largest record", MakeSpec(1536, {{{1536, 1}}}), true},
      {"24 keys", MakeSpec(10, keys24), true},
      {"119 segments", MakeSpec(200, {ManySegments(119)}), true},
      {"255-byte key", MakeSpec(300, {{{1, 200}, {201, 55}}}), true},
      {"empty", "", false},
      {"header only", std::string(15, '\0'), false},
      {"record length 0", MakeSpec(0, {{{1, 1}}}), false},
      {"record length 1537", MakeSpec(1537, {{{1, 1}}}), false},
      {"no keys", MakeSpec(10, {}), false},
      {"25 keys", MakeSpec(10, keys25), false},
      {"120 segments", MakeSpec(200, {ManySegments(120)}), false},
      {"segment length 0", MakeSpec(10, {{{1, 0}}}), false},
      {"segment position 0", MakeSpec(10, {{{0, 2}}}), false},
      {"segment past the record", MakeSpec(10, {{{9, 3}}}), false},
      {"256-byte key", MakeSpec(300, {{{1, 200}, {201, 56}}}), false},
      {"segments cut short", MakeSpec(10, {{{1, 2}}, {{3, 2}}}).substr(0, 40),
       false},
      {"collating sequence cut short", collated.substr(0, collated.size() - 1),
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseFileSpec(c.bytes).has_value(), c.valid) << c.name;
  }
}

TEST(FileSpecTest, ImagesOrderBinaryAndCollatedSegments) {
  std::array<uint8_t, 256> table = CaseFoldingTable();
  std::optional<FileSpec> spec =
      ParseFileSpec(MakeSpec(12,
                             {{{1, 2, kSegmentBinary}},
                              {{3, 2, kSegmentBinary}, {5, 3}},
                              {{8, 3, kSegmentCollated}},
                              {{1, 2, kSegmentBinary | kSegmentCollated}}},
                             &table));
  ASSERT_TRUE(spec);
  struct Case {
    size_t key;
    std::string value;
    std::string image;
  };
  const Case cases[] = {
      // 0x0100 (stored 00 01) sorts after 0x00FF (stored FF 00).
      {0, std::string("\x00\x01", 2), std::string("\x01\x00", 2)},
      {0, std::string("\xFF\x00", 2), std::string("\x00\xFF", 2)},
      // Only the binary segment is reversed; the text keeps its place.
      {1,
       std::string("\x01\x02"
                   "abc",
                   5),
       std::string("\x02\x01"
                   "abc",
                   5)},
      // A short value is extended with zero bytes first.
      {1, std::string("\x07", 1), std::string("\x00\x07\x00\x00\x00", 5)},
      {2, "aBc", "ABC"},
      // Binary wins over collated on the same segment.
      {3, "ab", "ba"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyImageOfValue(*spec, c.key, c.value), c.image)
        << "key " << c.key;
  }
  EXPECT_LT(KeyImageOfValue(*spec, 0, std::string("\xFF\x00", 2)),
            KeyImageOfValue(*spec, 0, std::string("\x00\x01", 2)));
}

TEST(FileSpecTest, RecordImagesMatchValueImages) {
  std::optional<FileSpec> spec =
      ParseFileSpec(MakeSpec(10, {{{7, 2}, {1, 4, kSegmentBinary}}}));
  ASSERT_TRUE(spec);
  std::string record = "\x01\x02\x03\x04xxZYqq";
  EXPECT_EQ(KeyValueOf(*spec, 0, record), "ZY\x01\x02\x03\x04");
  EXPECT_EQ(KeyImageOfRecord(*spec, 0, record),
            KeyImageOfValue(*spec, 0, KeyValueOf(*spec, 0, record)));
  // A record shorter than its segments reads as zero bytes.
  EXPECT_EQ(KeyValueOf(*spec, 0, "\x05"), std::string("\0\0\x05\0\0\0", 6));
  EXPECT_EQ(KeyValueOf(*spec, 3, record), "");
  // Copied into a caller's key buffer: the same bytes, cut to its length.
  for (std::string_view from :
       {std::string_view(record), std::string_view("\x05")}) {
    for (size_t capacity : {size_t{0}, size_t{3}, size_t{6}}) {
      std::string buffer(8, '#');
      CopyKeyValue(*spec, 0, from, reinterpret_cast<uint8_t*>(buffer.data()),
                   capacity);
      EXPECT_EQ(buffer, KeyValueOf(*spec, 0, from).substr(0, capacity) +
                            std::string(8 - capacity, '#'));
    }
  }
}

}  // namespace
}  // namespace tarnevos::platform
