// Record contents as the report reads them: random records of the six data
// files (whole records of arbitrary bytes, only their codes tied so that
// they meet) are written through the record manager, and the report is
// computed and printed over them. Nothing may crash, and for every
// community the totals must be those of the records read: its collections,
// its payments, the previous balances of its units, and the collections of
// the units listed must add up to the community's.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "data/access_layer.h"
#include "data/data_files.h"
#include "platform/console/memory_console.h"
#include "platform/recordmanager/record_manager.h"
#include "platform/system/system.h"
#include "print/print_file.h"
#include "report/report_form.h"
#include "report/settlement.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace {

using namespace tarnevos;
namespace fs = std::filesystem;
namespace rm = platform;

void Check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "report_records_fuzzer: %s\n", what);
    std::abort();
  }
}

const std::string& Root() {
  static const std::string root = [] {
    const std::string base = fs::exists("/dev/shm")
                                 ? "/dev/shm"
                                 : fs::temp_directory_path().string();
    std::string pattern = base + "/tarnevos-report-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern.data());
    const std::string dir = std::string(made == nullptr ? "." : made) + "/";
    fs::create_directories(dir + "DADES");
    return dir;
  }();
  return root;
}

std::string Community(int code) { return PackDigits(ZeroPad(code, 4)); }

// Creates the file and inserts the records; returns those it took (a
// duplicate key is refused).
std::vector<std::string> WriteFile(const FileLayout& layout,
                                   const std::vector<std::string>& records) {
  const std::string path = Root() + "DADES/" + layout.name + ".dat";
  std::array<uint8_t, rm::kPositionBlockSize> block{};
  std::array<uint8_t, 1536> data{};
  std::array<uint8_t, 255> name;
  name.fill(' ');
  std::memcpy(name.data(), path.c_str(), path.size() + 1);
  const std::string spec = CreationSpecification(layout);
  std::memcpy(data.data(), spec.data(), spec.size());
  uint32_t length = static_cast<uint32_t>(spec.size());
  Check(rm::RecordManagerCall(rm::kOpCreate, block.data(), data.data(), &length,
                              name.data(), 255, 0) == 0,
        "create");
  const std::string owner = DataOwnerName();
  data.fill(0);
  std::memcpy(data.data(), owner.c_str(), owner.size() + 1);
  length = static_cast<uint32_t>(owner.size() + 1);
  Check(rm::RecordManagerCall(rm::kOpOpen, block.data(), data.data(), &length,
                              name.data(), 255, 0) == 0,
        "open");
  std::vector<std::string> taken;
  for (const std::string& record : records) {
    std::array<uint8_t, 255> key{};
    std::memcpy(data.data(), record.data(), record.size());
    length = static_cast<uint32_t>(record.size());
    if (rm::RecordManagerCall(rm::kOpInsert, block.data(), data.data(), &length,
                              key.data(), 255, 0) == 0) {
      taken.push_back(record);
    }
  }
  std::array<uint8_t, 255> key{};
  rm::RecordManagerCall(rm::kOpClose, block.data(), data.data(), &length,
                        key.data(), 0, 0);
  return taken;
}

int32_t Int32At(const std::string& record, size_t offset) {
  return GetInt32(reinterpret_cast<const uint8_t*>(record.data()), offset);
}

struct Installation {
  std::vector<std::string> communities, units, collections, payments;
  std::map<uint8_t, int16_t> classes;  // THRebut classes by key byte
};

// Records of `length` arbitrary bytes, the first `code.size()` of them set
// to one of `codes`.
std::vector<std::string> Records(FuzzedDataProvider& input, size_t length,
                                 size_t most,
                                 const std::vector<std::string>& codes) {
  std::vector<std::string> records;
  const size_t count = input.ConsumeIntegralInRange<size_t>(0, most);
  for (size_t i = 0; i < count && input.remaining_bytes() > 0; ++i) {
    std::string record = input.ConsumeBytesAsString(length);
    record.resize(length, static_cast<char>(0x80));
    if (!codes.empty()) {
      const std::string& code =
          codes[input.ConsumeIntegralInRange<size_t>(0, codes.size() - 1)];
      record.replace(0, code.size(), code);
    }
    records.push_back(record);
  }
  return records;
}

Installation Install(FuzzedDataProvider& input) {
  Installation install;
  const std::vector<FileLayout>& layouts = FileLayouts();
  std::vector<std::string> type_keys;
  for (int q = 1; q <= 8; ++q) type_keys.push_back(std::string(1, char(q)));
  for (int n = 0; n < 4; ++n) type_keys.push_back(PackDigits(ZeroPad(n, 2)));
  const std::vector<std::string> community_codes = {Community(1), Community(2),
                                                    Community(7)};
  for (const std::string& record :
       WriteFile(layouts[0], Records(input, kThRebutLength, 12, type_keys))) {
    install.classes[static_cast<uint8_t>(record[0])] = GetInt16(
        reinterpret_cast<const uint8_t*>(record.data()), field::kReceiptClass);
  }
  install.communities =
      WriteFile(layouts[1], Records(input, kFinquesLength, 3, community_codes));
  WriteFile(layouts[2], Records(input, kFinDespLength, 3, community_codes));
  install.units =
      WriteFile(layouts[3], Records(input, kPropietLength, 8, community_codes));
  std::vector<std::string> unit_codes;
  for (const std::string& unit : install.units) {
    unit_codes.push_back(unit.substr(0, 4));
  }
  if (unit_codes.empty()) unit_codes.push_back(Community(1) + Community(1));
  install.payments =
      WriteFile(layouts[4], Records(input, kPagamLength, 16, community_codes));
  install.collections =
      WriteFile(layouts[5], Records(input, kCobramLength, 24, unit_codes));
  return install;
}

// The class a receipt key has in THRebut: the report looks it up by the
// key's first byte; an unknown type has none.
int16_t ClassOf(const Installation& install, const std::string& key) {
  auto it = install.classes.find(static_cast<uint8_t>(key[0]));
  return it == install.classes.end() ? 9 : it->second;
}

void CheckCommunity(const Installation& install,
                    const CommunitySettlement& settlement) {
  const std::string& code = settlement.code;
  const std::string& cutoff = settlement.cutoff_date;
  int64_t collected = 0;
  int64_t previous = 0;
  int units = 0;
  std::set<int> numbers;
  bool distinct_numbers = true;
  for (const std::string& unit : install.units) {
    if (unit.compare(0, 2, code) != 0) continue;
    ++units;
    const std::string unit_code = unit.substr(0, 4);
    distinct_numbers =
        numbers.insert(UnitNumber(unit_code)).second && distinct_numbers;
    for (const std::string& c : install.collections) {
      const char type = c[field::kCollectionType];
      if (c.compare(0, 4, unit_code) == 0 && c.substr(4, 4) <= cutoff &&
          (type == 'C' || type == 'I')) {
        collected += int64_t{Int32At(c, field::kCollectionFirst)} -
                     Int32At(c, field::kCollectionSecond);
      }
    }
    for (int q = 1; q <= 8; ++q) {
      if (ClassOf(install, FixedReceiptKey(q)) == 1) {
        previous += Int32At(unit, field::ReceiptAmount(q));
      }
    }
    for (int e = 1; e <= 2; ++e) {
      const int16_t type = GetInt16(
          reinterpret_cast<const uint8_t*>(unit.data()), field::FreeType(e));
      if (ClassOf(install, FreeReceiptKey(type)) == 1) {
        previous += Int32At(unit, field::FreeAmount(e));
      }
    }
  }
  // The columns: the previous balances, the fee in its column, and the
  // payments to the column their code names (or, for a single unit's, to
  // the private expenses).
  std::array<int64_t, 9> columns{};
  columns[0] = -previous;
  columns[settlement.fee.column] = settlement.fee.total;
  int64_t paid = 0;
  for (const std::string& p : install.payments) {
    if (p.compare(0, 2, code) != 0 || p.substr(2, 4) > cutoff) continue;
    const int32_t amount = Int32At(p, field::kPaymentAmount);
    paid += amount;
    const int m = static_cast<int>(
        NumericValue(UnpackDigits(p.substr(field::kPaymentCode, 2))));
    if (p[field::kPaymentSingle] == 'S') {
      columns[8] += amount;
    } else if (m >= 0 && m <= 8) {
      columns[m] += amount;
    }
  }
  Check(settlement.unit_count == units, "units counted");
  Check(settlement.collected_total == collected, "collections");
  Check(settlement.expense_total - settlement.fee.total == paid, "payments");
  for (int k = 0; k <= 8; ++k) {
    Check(settlement.column_expense[k] == columns[k], "a column's expenses");
  }
  // The lines add up to the community's total line: each figure of the
  // total is the listed units' plus the remainder's.
  for (size_t i = 0; i < settlement.totals.size(); ++i) {
    int64_t sum = settlement.remainder[i];
    for (const UnitSettlement& unit : settlement.units) {
      sum += unit.Figures()[i];
    }
    Check(sum == settlement.totals[i], "lines that do not add up");
  }
  if (settlement.AllListed()) {
    // With every unit listed, what no share rounds adds up exactly.
    int64_t listed_previous = 0;
    int64_t listed_collected = 0;
    for (const UnitSettlement& unit : settlement.units) {
      listed_previous += unit.amount[0];
      listed_collected += unit.collected;
    }
    // The units' previous balances are theirs; payments charged to the
    // previous-balance column belong to no unit and stay in the adjustment.
    Check(listed_previous == -previous, "listed previous balances");
    Check(settlement.remainder[kPreviousBalanceFigure] ==
              settlement.column_expense[0] + previous,
          "the adjustment of the previous balances");
    if (distinct_numbers) {
      Check(listed_collected == settlement.collected_total,
            "listed collections");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  rm::TEST_ResetRecordManager();
  TEST_ResetAccessLayer();
  TEST_ResetPrintFile();
  ResetWorkTables();
  SessionSettings& session = TEST_MutableSession();
  session.root_dir = Root();
  session.tmp_dir = Root();
  session.exe_dir = Root();
  session.language = "CAT";
  session.output_target = "TXT";
  MutableRun().program_id = "TARNEVOS";
  MutableRun().administrator_lines[7] = "ES12345678Z";
  MutableRun().fee_vat_rate = {21, 10};
  MutableRun().fee_withholding_rate = {15, 7};
  platform::SetConsole(&platform::BuiltInMemoryConsole());
  rm::TEST_SetProgramRunner(
      [](std::string_view, const std::vector<std::string>&) {
        return rm::ProgramResult{true, 0, ""};
      });

  const std::string cutoff = input.ConsumeBool() ? input.ConsumeBytesAsString(4)
                                                 : PackDigits("20261130");
  ReportParameters& parameters = Parameters();
  parameters.cutoff_date = cutoff;
  parameters.cutoff_date.resize(4, static_cast<char>(128));
  parameters.range_from = input.ConsumeBytesAsString(4);
  parameters.range_from.resize(4, static_cast<char>(0));
  parameters.range_to = std::string(4, static_cast<char>(0xFF));
  parameters.copies = input.ConsumeIntegralInRange<int16_t>(-1, 2);
  const Installation install = Install(input);

  OpenAllDataFiles();
  SelectCurrency("a,E");
  // Every community's settlement, as printed, checked against the records.
  int settled = 0;
  ProduceReport([&](const CommunitySettlement& settlement) {
    CheckCommunity(install, settlement);
    ++settled;
  });
  Check(settled == static_cast<int>(install.communities.size()) ||
            parameters.range_from > Community(1) + std::string(2, '\0'),
        "a community was not reported");
  int16_t status = 0;
  CloseAllDataFiles(status);
  return 0;
}
