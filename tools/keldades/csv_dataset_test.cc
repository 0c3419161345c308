// Export and import of an installation as CSV files: round trips, a file
// set saved by hand the way a spreadsheet program saves it, and the
// faults an import must name by file, line and column.

#include "keldades/csv_dataset.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "keldades/cli.h"
#include "keldades/cli_testing.h"
#include "keldades/dataset.h"
#include "keldades/store.h"
#include "support/run_state.h"
#include "support/scratch.h"

namespace tarnevos::keldades {
namespace {

using tool_test::Keldades;
using tool_test::Outcome;

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every record of the six files, in key order.
RecordSet Installed(const std::string& root) {
  RecordSet records;
  for (int file = 0; file < kFileCount; ++file) {
    std::string error;
    EXPECT_TRUE(ReadRecords(
        root, static_cast<FileIndex>(file),
        [&](std::string_view record) {
          records.files[file].emplace_back(record);
        },
        error))
        << error;
  }
  return records;
}

class CsvDatasetTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetRunState(); }
  void TearDown() override { testing::ResetRunState(); }

  std::string Root(const std::string& name) { return dir_.path() + name + "/"; }

  // Writes the five files of a folder; sections not given get the header
  // line of their columns.
  std::string Folder(const std::string& name,
                     const std::map<std::string, std::string>& files) {
    const std::string folder = dir_.path() + name + "/";
    for (const Section& section : kSections) {
      auto it = files.find(section.name);
      std::string text;
      if (it != files.end()) {
        text = it->second;
      } else {
        for (const std::string& column : CsvColumns(section.name)) {
          text += (text.empty() ? "" : ",") + column;
        }
        text += "\n";
      }
      dir_.Write(name + "/" + section.name + ".csv", text);
    }
    return folder;
  }

  std::string ImportError(const std::map<std::string, std::string>& files) {
    const std::string folder = Folder("bad", files);
    RecordSet records;
    std::string error;
    EXPECT_FALSE(ReadCsvDataset(folder, records, error));
    return error;
  }

  testing::ScratchDir dir_;
};

TEST_F(CsvDatasetTest, ExportThenImportGivesTheSameDataFiles) {
  const std::string demo = testing::SourceDir() + "/demo/root/data.json";
  const std::string original = Root("original");
  ASSERT_EQ(Keldades({"load", original, demo}).code, 0);
  ASSERT_EQ(Keldades({"generate", Root("generated"), "--communities", "4",
                      "--units", "6", "--years", "1", "--seed", "3"})
                .code,
            0);
  for (const std::string& source : {original, Root("generated")}) {
    for (const bool semicolon : {false, true}) {
      SCOPED_TRACE(source + (semicolon ? " --semicolon" : ""));
      const std::string folder = dir_.path() + "csv/";
      fs::remove_all(folder);
      std::vector<std::string> arguments = {"export", source, folder};
      if (semicolon) arguments.push_back("--semicolon");
      const Outcome exported = Keldades(arguments);
      ASSERT_EQ(exported.code, 0) << exported.err;
      const std::string copy = Root("copy");
      fs::remove_all(copy);
      const Outcome imported = Keldades({"import", copy, folder});
      ASSERT_EQ(imported.code, 0) << imported.err;
      EXPECT_NE(imported.out.find("imported into"), std::string::npos);

      const RecordSet before = Installed(source);
      const RecordSet after = Installed(copy);
      for (int file = 0; file < kFileCount; ++file) {
        EXPECT_FALSE(before.files[file].empty()) << "file " << file;
        EXPECT_EQ(before.files[file], after.files[file]) << "file " << file;
      }
      const std::string units = ReadText(folder + "units.csv");
      if (semicolon) {
        EXPECT_EQ(units.rfind("\xEF\xBB\xBF"
                              "community;unit;owner;",
                              0),
                  0u);
      } else {
        EXPECT_EQ(units.rfind("community,unit,owner,", 0), 0u);
      }
    }
  }
  // The demo's amounts and dates as the export writes them.
  const std::string folder = dir_.path() + "csv/";
  ASSERT_EQ(Keldades({"export", original, folder, "--semicolon"}).code, 0);
  const std::string communities = ReadText(folder + "communities.csv");
  EXPECT_NE(communities.find("\r\n1;MAJOR, 12*C/;15,00;1;31/08/2026;"),
            std::string::npos)
      << communities;
  EXPECT_EQ(Keldades({"export", original, folder, "--tabs"}).code, 64);
}

TEST_F(CsvDatasetTest, SpreadsheetSavedFilesImport) {
  // Saved the way a spreadsheet program with a decimal comma saves CSV:
  // ";" between fields, "1.234,56", DD/MM/YYYY, a byte-order mark, CR LF,
  // quoted texts with ";" and doubled quotes, empty trailing rows, columns
  // left out, headers in another case.
  const std::string folder =
      testing::SourceDir() + "/tools/keldades/testdata/spreadsheet";
  RecordSet imported;
  std::string error;
  ASSERT_TRUE(ReadCsvDataset(folder, imported, error)) << error;
  RecordSet expected;
  ASSERT_TRUE(
      ParseDataset(ReadText(testing::SourceDir() +
                            "/tools/keldades/testdata/spreadsheet.json"),
                   expected, error))
      << error;
  for (int file = 0; file < kFileCount; ++file) {
    ASSERT_EQ(imported.files[file].size(), expected.files[file].size())
        << "file " << file;
    for (size_t i = 0; i < expected.files[file].size(); ++i) {
      EXPECT_EQ(imported.files[file][i], expected.files[file][i])
          << "file " << file << " record " << i << "\n"
          << DatasetFromRecords(imported).dump(1);
    }
  }
  // And through the command, into data files.
  const Outcome outcome = Keldades({"import", Root("sheet"), folder});
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("3 receipt types, 2 communities, 1 expense "
                             "headings, 4 units, 3 payments, 3 collections"),
            std::string::npos)
      << outcome.out;
}

TEST_F(CsvDatasetTest, FaultsNameTheFileTheLineAndTheColumn) {
  const std::string communities =
      "code,name,monthly_fee\n1,UN*EDIFICI,10\n2,DOS*EDIFICI,0\n";
  struct Case {
    std::map<std::string, std::string> files;
    const char* message;
  };
  const Case cases[] = {
      {{{"communities", "code,name,monthly_fee\n1,A,10\n2,B,12,3a\n"}},
       "communities.csv, line 3, column 4: more fields than the header"},
      {{{"communities", "code,name,monthly_fee\n1,A,10\n2,B,\"12,3a\"\n"}},
       "communities.csv, line 3, column 3 (monthly_fee): \"12,3a\" is not a "
       "number"},
      {{{"communities", "code;nom\n1;A\n"}},
       "communities.csv, line 1, column 2 (nom): not a column of"},
      {{{"communities", "code,name,code\n"}},
       "communities.csv, line 1, column 3 (code): named twice"},
      {{{"communities", "name\nA\n"}},
       "communities.csv, line 1: the column code is missing"},
      {{{"communities", communities + "\n1,TRES*EDIFICI,0\n"}},
       "communities.csv, line 5, column 1 (code): repeats line 2"},
      {{{"communities", communities},
        {"units", "community,unit,coefficient_a\n1,1,500000\n9,1,500000\n"}},
       "units.csv, line 3, column 1 (community): community 9 is not among "
       "the communities"},
      {{{"communities", communities},
        {"units", "community,unit,coefficient_a\n1,1,500000\n1,1001,5\n"}},
       "units.csv, line 3, column 2 (unit): ends in the same three digits as "
       "line 2"},
      {{{"communities", communities},
        {"units", "community;unit;coefficient_c\n1;1;33,5\n"}},
       "units.csv, line 2, column 3 (coefficient_c): \"33,5\" must be a whole "
       "number"},
      {{{"communities", communities},
        {"units", "community,unit\n1,1\n"},
        {"collections", "community,unit,date,amount\n1,1,31/02/2026,10\n"}},
       "collections.csv, line 2, column 3 (date): \"2026-02-31\" is not a "
       "calendar date"},
      {{{"communities", communities},
        {"units", "community,unit\n1,1\n"},
        {"collections", "community,unit,date\n1,2,01/02/2026\n"}},
       "collections.csv, line 2, column 2 (unit): is not among the units"},
      {{{"communities", communities},
        {"payments",
         "community;date;amount;single_unit;code\n"
         "1;01/02/2026;10;N;9\n"}},
       "payments.csv, line 2, column 5 (code): must be from 0 to 8"},
      {{{"communities", communities},
        {"payments", "community;date;single_unit\n1;01/02/2026;potser\n"}},
       "payments.csv, line 2, column 3 (single_unit): \"potser\" must be S "
       "or N"},
      {{{"receipt_types", "code,number,class\n1,101,1\n"}},
       "receipt_types.csv, line 2: needs either"},
      {{{"communities", "code,name\n1,\"UN\n2,DOS\n"}},
       "communities.csv, line 2: a quoted field is not closed"},
      {{{"units", ""}}, "units.csv: has no header line"},
  };
  for (const Case& c : cases) {
    const std::string error = ImportError(c.files);
    EXPECT_NE(error.find(c.message), std::string::npos)
        << "got:  " << error << "\nwant: " << c.message;
  }

  // A missing file is named, and a failed import changes nothing.
  const std::string root = Root("kept");
  ASSERT_EQ(
      Keldades({"load", root, testing::SourceDir() + "/demo/root/data.json"})
          .code,
      0);
  const RecordSet before = Installed(root);
  const std::string folder = Folder("partial", {{"communities", communities}});
  fs::remove(folder + "payments.csv");
  const Outcome missing = Keldades({"import", root, folder});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("payments.csv: cannot be read"), std::string::npos)
      << missing.err;
  EXPECT_NE(missing.err.find("nothing was changed"), std::string::npos);
  const Outcome faulty =
      Keldades({"import", root,
                Folder("faulty", {{"communities", communities},
                                  {"units", "community,unit\n1,1\n7,1\n"}})});
  EXPECT_EQ(faulty.code, 1);
  EXPECT_NE(faulty.err.find("units.csv, line 3"), std::string::npos)
      << faulty.err;
  const RecordSet after = Installed(root);
  for (int file = 0; file < kFileCount; ++file) {
    EXPECT_EQ(before.files[file], after.files[file]) << "file " << file;
  }
}

}  // namespace
}  // namespace tarnevos::keldades
