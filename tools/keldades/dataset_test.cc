#include "keldades/dataset.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "data/data_files.h"
#include "keldades/generate.h"
#include "keldades/records.h"
#include "support/scratch.h"

namespace tarnevos::keldades {
namespace {

// A dataset in the form a dump writes (every field, key order), so that
// reading it and writing it back must give it unchanged.
std::string SampleDataset() {
  std::ifstream in(testing::SourceDir() +
                   "/tools/keldades/testdata/sample.json");
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

TEST(Dataset, RecordsCarryEveryFieldWhereTheReportReadsIt) {
  const std::string sample = SampleDataset();
  RecordSet records;
  std::string error;
  ASSERT_TRUE(ParseDataset(sample, records, error)) << error;
  ASSERT_EQ(records.files[kThRebutFile].size(), 4u);
  ASSERT_EQ(records.files[kFinquesFile].size(), 2u);
  ASSERT_EQ(records.files[kFinDespFile].size(), 1u);
  ASSERT_EQ(records.files[kPropietFile].size(), 3u);
  ASSERT_EQ(records.files[kCobramFile].size(), 4u);
  ASSERT_EQ(records.files[kPagamFile].size(), 3u);
  for (int file = 0; file < kFileCount; ++file) {
    for (const std::string& record : records.files[file]) {
      EXPECT_EQ(record.size(), FileLayouts()[file].record_length);
    }
  }
  // Numbered types are keyed by 128 + their last two digits.
  const auto& types = records.files[kThRebutFile];
  EXPECT_EQ(types[2][0], '\x8C');  // 12
  EXPECT_EQ(types[3][0], '\x99');  // 1225 -> 25
  EXPECT_EQ(GetInt16(reinterpret_cast<const uint8_t*>(types[2].data()),
                     field::kReceiptClass),
            1);

  const std::string& community = records.files[kFinquesFile][0];
  const auto* c = reinterpret_cast<const uint8_t*>(community.data());
  EXPECT_EQ(community.substr(0, 2), Bytes({128, 129}));
  EXPECT_EQ(GetBytes(c, field::kCommunityName, 30),
            "MAJOR 12*C/" + std::string(19, ' '));
  EXPECT_EQ(GetInt32(c, field::kMonthlyFee), 1500);
  EXPECT_EQ(GetInt16(c, field::kFeeTaxType), 1);
  EXPECT_EQ(GetBytes(c, field::kLastSettlement, 4),
            Bytes({128 + 20, 128 + 25, 128 + 12, 128 + 31}));
  EXPECT_EQ(GetInt32(c, field::SpecialTotal(3)), 1000000);
  EXPECT_EQ(GetBytes(c, field::SpecialTitle(3), 11), "CALEFACCI\xE0 ");
  EXPECT_EQ(GetBytes(c, field::SpecialTitle(2), 30), std::string(30, ' '));
  EXPECT_EQ(GetBytes(c, field::kCommunityTaxId, 17), "ESH12345678      ");
  const auto* empty =
      reinterpret_cast<const uint8_t*>(records.files[kFinquesFile][1].data());
  EXPECT_EQ(GetBytes(empty, field::kLastSettlement, 4),
            Bytes({128, 128, 128, 128}));

  const std::string& unit = records.files[kPropietFile][2];
  const auto* u = reinterpret_cast<const uint8_t*>(unit.data());
  EXPECT_EQ(unit.substr(0, 4), Bytes({128, 131, 128, 129}));  // 3.1
  const auto* first =
      reinterpret_cast<const uint8_t*>(records.files[kPropietFile][0].data());
  EXPECT_EQ(GetBytes(first, field::kOwnerName, 12),
            "N\xE9\xA5"
            "EZ*MERC\xD4 ");
  EXPECT_EQ(GetInt32(first, field::Coefficient(1)), 600000);
  EXPECT_EQ(GetInt32(first, field::Coefficient(4)), 500000);
  EXPECT_EQ(GetInt32(first, field::ReceiptAmount(1)), -1500);
  EXPECT_EQ(GetInt32(first, field::ReceiptAmount(8)), 2500);
  EXPECT_EQ(GetInt16(first, field::FreeType(1)), 12);
  EXPECT_EQ(GetInt32(first, field::FreeAmount(1)), 700);
  EXPECT_EQ(GetInt32(u, field::Coefficient(1)), 1000000);

  // Collections keep the given order among equal keys.
  const auto& collections = records.files[kCobramFile];
  const auto* k0 = reinterpret_cast<const uint8_t*>(collections[0].data());
  const auto* k1 = reinterpret_cast<const uint8_t*>(collections[1].data());
  EXPECT_EQ(GetInt32(k0, field::kCollectionFirst), 10000);
  EXPECT_EQ(GetInt32(k0, field::kCollectionSecond), 20);
  EXPECT_EQ(GetInt32(k1, field::kCollectionFirst), 300);
  EXPECT_EQ(collections[1][field::kCollectionType], 'I');

  const auto* p =
      reinterpret_cast<const uint8_t*>(records.files[kPagamFile][1].data());
  EXPECT_EQ(GetBytes(p, field::kPaymentDate, 4), Bytes({148, 154, 140, 129}));
  EXPECT_EQ(GetInt32(p, field::kPaymentAmount), 2500);
  EXPECT_EQ(GetBytes(p, field::kPaymentSingle, 1), "S");
  EXPECT_EQ(GetBytes(p, field::kPaymentCode, 2), Bytes({128, 130}));

  EXPECT_EQ(DatasetFromRecords(records), Json::parse(sample));
}

TEST(Dataset, RecordsAreWrittenInKeyOrder) {
  const char* shuffled = R"({
    "communities": [{"code": 20}, {"code": 3}],
    "units": [{"code": "20.1"}, {"code": "3.2"}, {"code": "3.1"}],
    "collections": [
      {"unit": "20.1", "date": "2026-01-01", "amount": 1},
      {"unit": "3.1", "date": "2026-05-01", "amount": 2},
      {"unit": "3.1", "date": "2025-05-01", "amount": 3},
      {"unit": "3.1", "date": "2026-05-01", "amount": 4}]})";
  RecordSet records;
  std::string error;
  ASSERT_TRUE(ParseDataset(shuffled, records, error)) << error;
  Json dataset = DatasetFromRecords(records);
  EXPECT_EQ(dataset["communities"][0]["code"], 3);
  EXPECT_EQ(dataset["units"][0]["code"], "3.1");
  EXPECT_EQ(dataset["units"][2]["code"], "20.1");
  std::vector<int> amounts;
  for (const auto& c : dataset["collections"]) amounts.push_back(c["amount"]);
  EXPECT_EQ(amounts, (std::vector<int>{3, 2, 4, 1}));
}

TEST(Dataset, BadValuesNameTheirPlaceAndLeaveNothing) {
  struct Case {
    std::string json;
    std::string message;
  } cases[] = {
      {"[1]", "dataset: must be an object"},
      {"{\"communities\": [}", "not valid JSON"},
      {"{\"comunities\": []}", "dataset.comunities: unknown field"},
      {"{\"receipt_types\": {}}", "receipt_types: must be a list"},
      {R"({"receipt_types": [{"code": 9}]})",
       "receipt_types[0].code: must be from 1 to 8"},
      {R"({"receipt_types": [{"code": 1, "number": 3}]})",
       "receipt_types[0]: needs either"},
      {R"({"receipt_types": [{"number": 7}, {"number": 107}]})",
       "receipt_types[1]: is the same receipt type as receipt_types[0]"},
      {R"({"receipt_types": [{"code": 2, "class": 1.5}]})",
       "receipt_types[0].class: must be a whole number"},
      {R"({"communities": [{"code": 1}, {"code": 1}]})",
       "communities[1].code: repeats communities[0]"},
      {R"({"communities": [{"code": 10000}]})",
       "communities[0].code: must be from 0 to 9999"},
      {R"({"communities": [{"name": "X"}]})",
       "communities[0].code: is missing"},
      {R"({"communities": [{"code": 1, "last_settlement": "2026-02-29"}]})",
       "communities[0].last_settlement: \"2026-02-29\" is not a calendar date"},
      {R"({"communities": [{"code": 1, "last_settlement": "1/2/2026"}]})",
       "communities[0].last_settlement: must be a date YYYY-MM-DD"},
      {R"({"communities": [{"code": 1, "fee_tax_type": 2}]})",
       "communities[0].fee_tax_type: must be from 0 to 1"},
      {R"({"communities": [{"code": 1, "monthly_fee": 2147483648}]})",
       "communities[0].monthly_fee: must be from -2147483648 to 2147483647"},
      {R"({"communities": [{"code": 1, "name": "€ 5"}]})",
       "communities[0].name: holds U+20AC, which code page 850 lacks"},
      {R"({"communities": [{"code": 1, "name": "A\nB"}]})",
       "communities[0].name: holds a control character"},
      {R"({"communities": [{"code": 1, "tax_id": "ES►"}]})",
       "communities[0].tax_id: holds a control character"},
      {R"({"communities": [{"code": 1, "special_columns": [{}, {}, {}, {}, {},
          {}, {}]}]})",
       "communities[0].special_columns: holds more than 6 elements"},
      {R"({"communities": [{"code": 1, "special_columns": [{"title": 5}]}]})",
       "communities[0].special_columns[0].title: must be a text"},
      {R"({"units": [{"code": "1.1"}]})",
       "units[0].code: community 1 is not among the communities"},
      {R"({"communities": [{"code": 1}], "units": [{"code": "1-1"}]})",
       "units[0].code: \"1-1\" is not a unit code"},
      {R"({"communities": [{"code": 1}], "units": [{"code": "1.12345"}]})",
       "units[0].code: \"1.12345\" is not a unit code"},
      {R"({"communities": [{"code": 1}],
           "units": [{"code": "1.5"}, {"code": "1.1005"}]})",
       "units[1].code: ends in the same three digits as units[0]"},
      {R"({"communities": [{"code": 1}],
           "units": [{"code": "1.5", "coefficients": [1, 2, "3"]}]})",
       "units[0].coefficients[2]: must be a whole number"},
      {R"({"communities": [{"code": 1}],
           "units": [{"code": "1.5", "free_entries": [{"amount": 3}]}]})",
       "units[0].free_entries[0].type: is missing"},
      {R"({"communities": [{"code": 1}], "units": [{"code": "1.5"}],
           "collections": [{"unit": "1.6", "date": "2026-01-01"}]})",
       "collections[0].unit: is not among the units"},
      {R"({"communities": [{"code": 1}], "units": [{"code": "1.5"}],
           "collections": [{"unit": "1.5", "date": "2026-01-01",
                            "type": "CI"}]})",
       "collections[0].type: must be one character"},
      {R"({"communities": [{"code": 1}],
           "payments": [{"community": 1, "date": "2026-01-01", "code": 9}]})",
       "payments[0].code: must be from 0 to 8"},
      {R"({"communities": [{"code": 1}], "units": [{"code": "1.5"}],
           "payments": [{"community": 1, "date": "2026-01-01",
                         "single_unit": true, "code": 6}]})",
       "payments[0].code: is not a unit of the community"},
      {R"({"communities": [{"code": 1}],
           "payments": [{"community": 1, "date": "2026-01-01",
                         "single_unit": "yes"}]})",
       "payments[0].single_unit: must be true or false"},
  };
  for (const Case& c : cases) {
    RecordSet records;
    records.files[kThRebutFile].push_back("stale");
    std::string error;
    EXPECT_FALSE(ParseDataset(c.json, records, error)) << c.json;
    EXPECT_NE(error.find(c.message), std::string::npos)
        << "got: " << error << "\nwanted: " << c.message;
    for (const auto& file : records.files) EXPECT_TRUE(file.empty());
  }
}

TEST(Dataset, TextsAreCutToTheirField) {
  RecordSet records;
  std::string error;
  ASSERT_TRUE(ParseDataset(
      R"({"communities": [{"code": 1, "name": "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"}]})",
      records, error))
      << error;
  EXPECT_EQ(records.files[kFinquesFile][0].substr(field::kCommunityName, 30),
            "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
}

// Sums of each column's coefficients over the units of each community.
std::map<std::pair<int, int>, int64_t> ColumnSums(const RecordSet& records) {
  std::map<std::pair<int, int>, int64_t> sums;
  for (const std::string& unit : records.files[kPropietFile]) {
    RecordReader reader(kPropietFile, unit);
    int community =
        static_cast<uint8_t>(unit[0]) * 256 + static_cast<uint8_t>(unit[1]);
    for (int k = 1; k <= 7; ++k) {
      sums[{community, k}] += reader.Int(IndexedName("coefficient", k));
    }
  }
  return sums;
}

TEST(Generate, IsRepeatableConsistentAndReadableAsADataset) {
  GenerateOptions options;
  options.communities = 12;
  options.units = 7;
  options.years = 2;
  options.seed = 42;
  RecordSet records = GenerateRecords(options);
  EXPECT_EQ(records.files[kFinquesFile].size(), 12u);
  EXPECT_EQ(records.files[kPropietFile].size(), 12u * 7);
  EXPECT_EQ(records.files[kCobramFile].size(), 12u * 7 * 12 * 2);
  EXPECT_GE(records.files[kPagamFile].size(), 12u * 12 * 2);

  // Column A adds up to a million, the others to their column's total.
  auto sums = ColumnSums(records);
  for (const std::string& community : records.files[kFinquesFile]) {
    RecordReader reader(kFinquesFile, community);
    int code = static_cast<uint8_t>(community[0]) * 256 +
               static_cast<uint8_t>(community[1]);
    EXPECT_EQ((sums[{code, 1}]), 1000000);
    for (int i = 1; i <= 6; ++i) {
      EXPECT_EQ((sums[{code, i + 1}]),
                reader.Int(IndexedName("special_total", i)));
    }
  }
  // Every file comes in key order.
  for (int file = 0; file < kFileCount; ++file) {
    const auto& list = records.files[file];
    for (size_t i = 1; i < list.size(); ++i) {
      ASSERT_LE(KeyOf(static_cast<FileIndex>(file), list[i - 1]),
                KeyOf(static_cast<FileIndex>(file), list[i]))
          << FileLayouts()[file].name << " " << i;
    }
  }
  // What it generates is a valid dataset and reads back to the same records.
  Json dataset = DatasetFromRecords(records);
  RecordSet again;
  std::string error;
  ASSERT_TRUE(RecordsFromDataset(dataset, again, error)) << error;
  EXPECT_EQ(again.files, records.files);

  EXPECT_EQ(GenerateRecords(options).files, records.files);
  options.seed = 43;
  EXPECT_NE(GenerateRecords(options).files[kCobramFile],
            records.files[kCobramFile]);
}

}  // namespace
}  // namespace tarnevos::keldades
