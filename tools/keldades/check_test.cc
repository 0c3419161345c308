// The check of an installation: one small installation with each kind of
// finding (written record by record, as other programs of the suite could
// have left it), clean ones that give nothing, and the warnings of load.

#include "keldades/check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "keldades/cli.h"
#include "keldades/cli_testing.h"
#include "keldades/dataset.h"
#include "keldades/records.h"
#include "keldades/store.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/dates.h"

namespace tarnevos::keldades {
namespace {

using tool_test::Keldades;
using tool_test::Outcome;

// A record of blanks with every number field 0.
RecordBuilder Zeroed(FileIndex file) {
  RecordBuilder record(file);
  for (const FieldSpec& field : LayoutOf(file).fields) {
    if (field.type == FieldType::kInt16 || field.type == FieldType::kInt32) {
      record.Int(field.name, 0);
    }
  }
  return record;
}

// Records written straight to the files, past the dataset's checks.
class RawInstallation {
 public:
  void Community(int code, const std::string& name, int64_t monthly_fee,
                 bool settled, int64_t column_b_total = 0) {
    RecordBuilder record = Zeroed(kFinquesFile);
    record.Bytes("code", PackedCommunity(code));
    record.Bytes("name", name);
    record.Int("monthly_fee", monthly_fee);
    record.Bytes("last_settlement",
                 settled ? PackedDate(2026, 8, 31) : PackedDate(0, 0, 0));
    record.Bytes("tax_id", "ESH12345678");
    record.Int(IndexedName("special_total", 1), column_b_total);
    record.Bytes(IndexedName("special_title", 1),
                 column_b_total != 0 ? "ASCENSOR" : "");
    Add(kFinquesFile, record.Take());
  }
  void Unit(int community, int unit, int64_t coefficient_a,
            int64_t coefficient_b = 0) {
    RecordBuilder record = Zeroed(kPropietFile);
    record.Bytes("code", PackedUnit(community, unit));
    record.Bytes("owner", "OWNER*" + std::to_string(unit));
    record.Bytes("designation", "PIS");
    record.Int(IndexedName("coefficient", 1), coefficient_a);
    record.Int(IndexedName("coefficient", 2), coefficient_b);
    Add(kPropietFile, record.Take());
  }
  void Collection(int community, int unit, int64_t amount) {
    RecordBuilder record = Zeroed(kCobramFile);
    record.Bytes("unit", PackedUnit(community, unit));
    record.Bytes("date", PackedDate(2026, 10, 5));
    record.Int("amount", amount);
    record.Bytes("type", "C");
    Add(kCobramFile, record.Take());
  }
  void Payment(int community, int64_t amount, bool single, int code) {
    RecordBuilder record = Zeroed(kPagamFile);
    record.Bytes("community", PackedCommunity(community));
    record.Bytes("date", PackedDate(2026, 10, 1));
    record.Int("amount", amount);
    record.Bytes("single_unit", single ? "S" : "N");
    record.Bytes("code", PackedCommunity(code));
    Add(kPagamFile, record.Take());
  }

  void Write(const std::string& root) {
    for (int file = 0; file < kFileCount; ++file) {
      auto& list = records_.files[file];
      std::stable_sort(list.begin(), list.end(),
                       [file](const std::string& a, const std::string& b) {
                         return KeyOf(static_cast<FileIndex>(file), a) <
                                KeyOf(static_cast<FileIndex>(file), b);
                       });
    }
    WriteCounts counts;
    std::string error;
    ASSERT_TRUE(WriteRecordSet(root, records_, counts, error)) << error;
  }

 private:
  void Add(FileIndex file, std::string record) {
    records_.files[file].push_back(std::move(record));
  }
  RecordSet records_;
};

class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetRunState(); }
  void TearDown() override { testing::ResetRunState(); }
  testing::ScratchDir dir_;
};

TEST_F(CheckTest, FindsEachKindWithTheRecordsConcerned) {
  RawInstallation data;
  data.Community(1, "NET*EDIFICI", 0, true);
  data.Unit(1, 1, 500000);
  data.Unit(1, 2, 500000);
  // Column A adds up to 1,680,000; column B to less than its total.
  data.Community(2, "COEFICIENTS*EDIFICI", 0, true, 1000);
  data.Unit(2, 1, 840000, 400);
  data.Unit(2, 2, 840000, 500);
  // A fee but never settled.
  data.Community(3, "SENSE LIQUIDAR*EDIFICI", 3000, false);
  data.Unit(3, 1, 1000000);
  // 4.5 and 4.1005 share the number 005.
  data.Community(4, "REPETITS*EDIFICI", 0, true);
  data.Unit(4, 5, 500000);
  data.Unit(4, 1005, 500000);
  // Figures too wide: 150,000.00 in euros, and in pesetas only.
  data.Community(5, "GRAN*EDIFICI", 0, true);
  data.Unit(5, 1, 500000);
  data.Unit(5, 2, 500000);
  data.Payment(5, 15000000, false, 1);
  data.Collection(5, 1, 7500000);
  data.Collection(5, 2, 7500000);
  data.Community(6, "PESSETES*EDIFICI", 0, true);
  data.Unit(6, 1, 500000);
  data.Unit(6, 2, 500000);
  data.Payment(6, 7000000, false, 1);
  data.Collection(6, 1, 3500000);
  data.Collection(6, 2, 3500000);
  // Records that belong nowhere, and a column code outside 0-8.
  data.Unit(9, 1, 1000000);
  data.Collection(1, 99, 4500);
  data.Collection(1, 99, 500);
  data.Payment(8, 100, false, 1);
  data.Payment(1, 2500, true, 77);
  data.Payment(1, 1200, false, 12);
  const std::string root = dir_.path() + "ROOT/";
  data.Write(root);

  const Outcome outcome = Keldades({"check", root, "--cutoff", "2026-11-30"});
  EXPECT_EQ(outcome.code, 1) << outcome.err;
  const std::string& out = outcome.out;
  const std::vector<std::string> expected = {
      "community 1 EDIFICI NET:",
      "collections of units that are not among the units",
      "unit 1.99: 2 collections from 2026-10-05 to 2026-10-05, 50.00 in all",
      "payments charged to a unit number that is no unit of the community",
      "payment of 2026-10-01, 25.00, unit number 77",
      "payments with a column code outside 0-8",
      "payment of 2026-10-01, 12.00, column code 12",
      "community 2 EDIFICI COEFICIENTS:",
      "column A: the units' coefficients add up to 1,680,000, not to the "
      "column's total 1,000,000",
      "unit 2.1: 840,000",
      "column B: the units' coefficients add up to 900, not to the column's "
      "total 1,000",
      "community 3 EDIFICI SENSE LIQUIDAR:",
      "charged a monthly fee but never settled",
      "monthly fee 30.00, last settlement: none",
      "community 4 EDIFICI REPETITS:",
      "units whose numbers end in the same three digits (005)",
      "unit 4.5",
      "unit 4.1005",
      "community 5 EDIFICI GRAN:",
      "figures that fill their 10-character slot at 2026-11-30",
      "total line, column A 150000.00 EUR prints as \"150.000'00\"",
      "total line, expenses 150000.00 EUR prints as \"150.000'00\"",
      "total line, column A 150000.00 EUR prints as \"24.957.900\" in "
      "pesetas",
      "community 6 EDIFICI PESSETES:",
      "total line, column A 70000.00 EUR prints as \"11.647.020\" in pesetas",
      "community 8 (not among the communities):",
      "payments of a community that is not among the communities",
      "payment of 2026-10-01, 1.00, column code 1",
      "community 9 (not among the communities):",
      "units of a community that is not among the communities",
      "unit 9.1 OWNER*1",
  };
  size_t at = 0;
  for (const std::string& line : expected) {
    const size_t found = out.find(line, at);
    EXPECT_NE(found, std::string::npos)
        << "missing or out of order: " << line << "\n"
        << out;
    if (found != std::string::npos) at = found;
  }
  // Community 6's euros fit; nothing is said of clean units.
  EXPECT_EQ(out.find("70000.00 EUR prints as \"70.000'00\""),
            std::string::npos);
  EXPECT_EQ(out.find("unit 5.1,"), std::string::npos);
  // Community 1 has no findings of its own about coefficients.
  EXPECT_EQ(out.find("column A: the units' coefficients add up to 1,000,000"),
            std::string::npos);

  // The same findings through the library, counted.
  CheckReport report;
  std::string error;
  ASSERT_TRUE(CheckInstallation(root, PackDigits("20261130"), report, error));
  EXPECT_EQ(report.Count(), 11u);
}

TEST_F(CheckTest, CleanInstallationsGiveNothingAndUnreadableOnesTwo) {
  // Every kind of record, each where it belongs.
  RawInstallation data;
  data.Community(1, "NET*EDIFICI", 3000, true, 1000);
  data.Unit(1, 1, 600000, 600);
  data.Unit(1, 2, 400000, 400);
  data.Community(2, "BUIT*EDIFICI", 0, false);
  data.Collection(1, 1, 45000);
  data.Collection(1, 2, 30000);
  data.Payment(1, 120000, false, 1);
  data.Payment(1, 40000, false, 2);
  data.Payment(1, 1500, false, 8);
  data.Payment(1, 2500, true, 2);
  const std::string root = dir_.path() + "ROOT/";
  data.Write(root);
  Outcome outcome = Keldades({"check", root, "--cutoff", "31/12/2026"});
  EXPECT_EQ(outcome.code, 0) << outcome.out << outcome.err;
  EXPECT_EQ(outcome.out, "nothing found\n");

  EXPECT_EQ(Keldades({"check", dir_.path() + "none/"}).code, 2);
  std::filesystem::remove(root + "DADES/FinDespH.dat");
  outcome = Keldades({"check", root});
  EXPECT_EQ(outcome.code, 2);
  EXPECT_NE(outcome.err.find("FinDespH.dat: missing"), std::string::npos)
      << outcome.err;
  dir_.Write("ROOT/DADES/FinDespH.dat", "damaged");
  EXPECT_EQ(Keldades({"check", root}).code, 2);
  // Wrong usage is told as every command tells it.
  EXPECT_EQ(Keldades({"check", root, "--cutoff", "2026-02-30"}).code, 64);
  EXPECT_EQ(Keldades({"check", root, "--since", "2026-01-01"}).code, 64);
}

TEST_F(CheckTest, LoadWarnsOfTheFindingsButLoads) {
  const std::string dataset = R"({
    "communities": [{"code": 1, "name": "ARC*COMUNITAT",
                     "last_settlement": "2026-08-31"}],
    "units": [{"code": "1.1", "coefficients": [840000]},
              {"code": "1.2", "coefficients": [840000]}],
    "payments": [{"community": 1, "date": "2026-09-01", "amount": 120500,
                  "code": 1}]
  })";
  dir_.Write("data.json", dataset);
  const std::string root = dir_.path() + "ROOT/";
  const Outcome outcome = Keldades({"load", root, dir_.path() + "data.json"});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("loaded into"), std::string::npos);
  EXPECT_NE(outcome.err.find("keldades: warning: 1 finding"), std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("column A: the units' coefficients add up to "
                             "1,680,000, not to the column's total 1,000,000"),
            std::string::npos)
      << outcome.err;
  // Loaded as it was given.
  std::ostringstream dump;
  std::string error;
  ASSERT_TRUE(DumpInstallation(root, "PropietH", dump, error)) << error;
  EXPECT_NE(dump.str().find("\"coefficients\":[840000"), std::string::npos);
}

}  // namespace
}  // namespace tarnevos::keldades
