#ifndef TARNEVOS_REPORT_SETTLEMENT_TEST_DATA_H_
#define TARNEVOS_REPORT_SETTLEMENT_TEST_DATA_H_

// Small installations for the report's tests: records built field by field
// and written to the six data files through the record manager, and a
// reader of the print file that lays its texts out as lines.

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/access_layer.h"
#include "data/data_files.h"
#include "platform/recordmanager/record_manager.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/text.h"

namespace tarnevos::testing {

inline std::string PackedCommunity(int community) {
  return PackDigits(ZeroPad(community, 4));
}
inline std::string PackedUnit(int community, int unit) {
  return PackedCommunity(community) + PackDigits(ZeroPad(unit, 4));
}
inline std::string PackedDate(int year, int month, int day) {
  return PackDigits(ZeroPad(year, 4) + ZeroPad(month, 2) + ZeroPad(day, 2));
}
inline const std::string kNoDate = std::string(4, static_cast<char>(128));

struct TestReceiptType {
  std::string key;  // the one-byte code
  int16_t receipt_class = 0;
};

struct SpecialColumn {
  std::string title;  // UTF-8
  int32_t coefficient_total = 0;
};

struct TestCommunity {
  int code = 1;
  std::string name = "PROVA*COMUNITAT";  // UTF-8
  int32_t monthly_fee = 0;
  int16_t fee_tax_type = 0;
  std::string last_settlement = kNoDate;  // packed
  std::array<SpecialColumn, 6> special{};
  std::string tax_id = "ESH12345678";
  bool has_headings = false;
  std::string headings;  // UTF-8, 600 characters at most
};

struct FreeEntry {
  int16_t type = 0;
  int32_t amount = 0;
};

struct TestUnit {
  int community = 1;
  int unit = 1;
  std::string designation = "PIS";
  std::string owner;                      // UTF-8, SURNAME*NAME
  std::array<int32_t, 7> coefficients{};  // columns A..G
  std::array<int32_t, 8> receipts{};      // receipt types 1..8
  std::array<FreeEntry, 2> free{};
};

struct TestCollection {
  int community = 1;
  int unit = 1;
  std::string date;  // packed
  int32_t first = 0;
  int32_t second = 0;
  char type = 'C';
};

struct TestPayment {
  int community = 1;
  std::string date;  // packed
  int32_t amount = 0;
  bool single_unit = false;
  int code = 1;  // column, or unit number with single_unit
};

class TestData {
 public:
  std::vector<TestReceiptType> receipt_types;
  std::vector<TestCommunity> communities;
  std::vector<TestUnit> units;
  std::vector<TestCollection> collections;
  std::vector<TestPayment> payments;

  // Creates ROOT/DADES/<file>.dat for the six files and fills them.
  // Returns the first failing record-manager status (0 when all went well).
  int16_t WriteFiles(const std::string& root) const {
    std::array<std::vector<std::string>, 6> records;
    for (const TestReceiptType& type : receipt_types) {
      std::string r = Blank(kThRebutLength);
      Put(r, field::kReceiptCode, type.key);
      Int16(r, field::kReceiptClass, type.receipt_class);
      records[0].push_back(r);
    }
    for (const TestCommunity& c : communities) {
      std::string r = Blank(kFinquesLength);
      Put(r, field::kCommunityCode, PackedCommunity(c.code));
      Text(r, field::kCommunityName, 30, Cp850(c.name));
      Int32(r, field::kMonthlyFee, c.monthly_fee);
      Int16(r, field::kFeeTaxType, c.fee_tax_type);
      Put(r, field::kLastSettlement, c.last_settlement);
      for (int i = 1; i <= 6; ++i) {
        Int32(r, field::SpecialTotal(i), c.special[i - 1].coefficient_total);
        Text(r, field::SpecialTitle(i), 30, Cp850(c.special[i - 1].title));
      }
      Text(r, field::kCommunityTaxId, 17, c.tax_id);
      records[1].push_back(r);
      if (c.has_headings) {
        std::string h = Blank(kFinDespLength);
        Put(h, field::kCommunityCode, PackedCommunity(c.code));
        Text(h, field::kHeadings, 600, Cp850(c.headings));
        records[2].push_back(h);
      }
    }
    for (const TestUnit& u : units) {
      std::string r = Blank(kPropietLength);
      Put(r, field::kUnitCode, PackedUnit(u.community, u.unit));
      Text(r, field::kDesignation, 10, Cp850(u.designation));
      Text(r, field::kOwnerName, 30, Cp850(u.owner));
      for (int k = 1; k <= 7; ++k)
        Int32(r, field::Coefficient(k), u.coefficients[k - 1]);
      for (int q = 1; q <= 8; ++q)
        Int32(r, field::ReceiptAmount(q), u.receipts[q - 1]);
      for (int e = 1; e <= 2; ++e) {
        Int16(r, field::FreeType(e), u.free[e - 1].type);
        Int32(r, field::FreeAmount(e), u.free[e - 1].amount);
      }
      records[3].push_back(r);
    }
    for (const TestPayment& p : payments) {
      std::string r = Blank(kPagamLength);
      Put(r, field::kPaymentCommunity, PackedCommunity(p.community));
      Put(r, field::kPaymentDate, p.date);
      Int32(r, field::kPaymentAmount, p.amount);
      r[field::kPaymentSingle] = p.single_unit ? 'S' : 'N';
      Put(r, field::kPaymentCode, PackedCommunity(p.code));
      records[4].push_back(r);
    }
    for (const TestCollection& c : collections) {
      std::string r = Blank(kCobramLength);
      Put(r, field::kCollectionUnit, PackedUnit(c.community, c.unit));
      Put(r, field::kCollectionDate, c.date);
      Int32(r, field::kCollectionFirst, c.first);
      Int32(r, field::kCollectionSecond, c.second);
      r[field::kCollectionType] = c.type;
      records[5].push_back(r);
    }
    std::error_code error;
    std::filesystem::create_directories(root + "DADES", error);
    const std::vector<FileLayout>& layouts = FileLayouts();
    for (size_t f = 0; f < layouts.size(); ++f) {
      int16_t status = WriteFile(root + "DADES/" + layouts[f].name + ".dat",
                                 layouts[f], records[f]);
      if (status != 0) return status;
    }
    return 0;
  }

 private:
  static std::string Blank(size_t length) { return std::string(length, '\0'); }
  static void Put(std::string& r, size_t offset, const std::string& bytes) {
    r.replace(offset, bytes.size(), bytes);
  }
  static void Text(std::string& r, size_t offset, size_t width,
                   const std::string& text) {
    PutText(reinterpret_cast<uint8_t*>(r.data()), offset, width, text);
  }
  static void Int16(std::string& r, size_t offset, int16_t value) {
    PutInt16(reinterpret_cast<uint8_t*>(r.data()), offset, value);
  }
  static void Int32(std::string& r, size_t offset, int32_t value) {
    PutInt32(reinterpret_cast<uint8_t*>(r.data()), offset, value);
  }

  static int16_t WriteFile(const std::string& path, const FileLayout& layout,
                           const std::vector<std::string>& records) {
    namespace rm = platform;
    std::array<uint8_t, 128> block{};
    std::array<uint8_t, 1536> data{};
    std::array<uint8_t, 255> name{};
    name.fill(' ');
    std::memcpy(name.data(), path.data(), path.size());
    name[path.size()] = 0;

    const std::string spec = CreationSpecification(layout);
    std::memcpy(data.data(), spec.data(), spec.size());
    uint32_t length = static_cast<uint32_t>(spec.size());
    int16_t status = rm::RecordManagerCall(
        rm::kOpCreate, block.data(), data.data(), &length, name.data(), 255, 0);
    if (status != 0) return status;
    const std::string owner = DataOwnerName();
    data.fill(0);
    std::memcpy(data.data(), owner.data(), owner.size());
    length = static_cast<uint32_t>(owner.size() + 1);
    status = rm::RecordManagerCall(rm::kOpOpen, block.data(), data.data(),
                                   &length, name.data(), 255, 0);
    if (status != 0) return status;
    for (const std::string& record : records) {
      std::array<uint8_t, 255> key{};
      std::memcpy(data.data(), record.data(), record.size());
      length = static_cast<uint32_t>(record.size());
      status = rm::RecordManagerCall(rm::kOpInsert, block.data(), data.data(),
                                     &length, key.data(), 255, 0);
      if (status != 0) break;
    }
    uint32_t none = 0;
    std::array<uint8_t, 255> key{};
    rm::RecordManagerCall(rm::kOpClose, block.data(), data.data(), &none,
                          key.data(), 255, 0);
    return status;
  }
};

// The print file laid out as the print program places its texts: one
// string per printed line (CP850), a line "<PAGE>" where each page starts.
// Controls and justification lines leave no trace.
inline std::vector<std::string> RenderPrintFile(std::string_view contents) {
  std::vector<std::string> lines(1);
  size_t column = 0;  // 0-based position after the last text
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find("\r\n", start);
    if (end == std::string_view::npos) end = contents.size();
    const std::string_view line = contents.substr(start, end - start);
    start = end + 2;
    if (line.substr(0, 4) == "PAGE") {
      if (!(lines.size() == 1 && lines[0].empty())) {
        if (!lines.back().empty()) lines.emplace_back();
      } else {
        lines.clear();
      }
      lines.push_back("<PAGE>");
      lines.emplace_back();
      column = 0;
      continue;
    }
    const size_t first = line.find(',');
    const size_t last = line.rfind(',');
    if (line.empty() || line[0] == '*' || line.substr(0, 3) == "JUS" ||
        line.substr(0, 6) == "DEVICE" || first == last) {
      continue;
    }
    const int at = std::stoi(std::string(line.substr(0, first)));
    const int feeds = std::stoi(std::string(line.substr(last + 1)));
    const std::string_view text = line.substr(first + 1, last - first - 1);
    if (at > 0) column = static_cast<size_t>(at - 1);
    std::string& current = lines.back();
    if (current.size() < column + text.size())
      current.resize(column + text.size(), ' ');
    current.replace(column, text.size(), text);
    column += text.size();
    for (int i = 0; i < feeds; ++i) lines.emplace_back();
    if (feeds > 0) column = 0;
  }
  return lines;
}

// An amount as printed in euros with the default characters (thousands
// ".", decimals "'") back in hundredths; blanks read as 0.
inline int64_t ParseEuros(std::string_view slot) {
  int64_t units = 0;
  int64_t cents = 0;
  int decimals = -1;
  bool negative = false;
  for (char c : slot) {
    if (c == '-') negative = true;
    if (c == '\'') decimals = 0;
    if (c < '0' || c > '9') continue;
    if (decimals < 0) {
      units = units * 10 + (c - '0');
    } else if (decimals < 2) {
      cents = cents * 10 + (c - '0');
      ++decimals;
    }
  }
  if (decimals == 1) cents *= 10;
  const int64_t value = units * 100 + cents;
  return negative ? -value : value;
}

// The twelve 10-character figure slots of a printed body line (columns
// 16..135), trailing blanks of the line restored.
using LineFigures12 = std::array<int64_t, 12>;

inline std::array<std::string, 12> FigureSlots(const std::string& line) {
  std::string padded = line;
  if (padded.size() < 135) padded.resize(135, ' ');
  std::array<std::string, 12> slots;
  for (size_t i = 0; i < 12; ++i) slots[i] = padded.substr(15 + 10 * i, 10);
  return slots;
}

}  // namespace tarnevos::testing

#endif  // TARNEVOS_REPORT_SETTLEMENT_TEST_DATA_H_
