#include "keldades/dataset.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "data/data_files.h"
#include "keldades/records.h"
#include "util/codepage.h"
#include "util/dates.h"

namespace tarnevos::keldades {
namespace {

// --- Checking JSON values ----------------------------------------------------

// The place of a value in the dataset, for messages.
class Where {
 public:
  Where(std::string path) : path_(std::move(path)) {}
  Where Field(std::string_view name) const {
    return Where(path_ + "." + std::string(name));
  }
  Where Index(size_t index) const {
    return Where(path_ + "[" + std::to_string(index) + "]");
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class Checker {
 public:
  explicit Checker(std::string& error) : error_(error) {}

  bool Fail(const Where& where, const std::string& what) {
    error_ = where.path() + ": " + what;
    return false;
  }

  bool Object(const Json& value, const Where& where,
              std::initializer_list<const char*> allowed) {
    if (!value.is_object()) return Fail(where, "must be an object");
    for (auto it = value.begin(); it != value.end(); ++it) {
      bool known = std::any_of(allowed.begin(), allowed.end(),
                               [&](const char* a) { return it.key() == a; });
      if (!known) return Fail(where.Field(it.key()), "unknown field");
    }
    return true;
  }

  bool Integer(const Json& value, const Where& where, int64_t low, int64_t high,
               int64_t& out) {
    if (!value.is_number_integer()) {
      return Fail(where, "must be a whole number");
    }
    bool in_range = false;
    if (value.is_number_unsigned()) {
      uint64_t number = value.get<uint64_t>();
      in_range = number <= static_cast<uint64_t>(high) &&
                 (low <= 0 || number >= static_cast<uint64_t>(low));
      out = in_range ? static_cast<int64_t>(number) : 0;
    } else {
      out = value.get<int64_t>();
      in_range = out >= low && out <= high;
    }
    if (!in_range) {
      return Fail(where, "must be from " + std::to_string(low) + " to " +
                             std::to_string(high));
    }
    return true;
  }

  // An optional member: absent gives `fallback`.
  bool OptionalInteger(const Json& object, const char* name, const Where& where,
                       int64_t low, int64_t high, int64_t fallback,
                       int64_t& out) {
    auto it = object.find(name);
    if (it == object.end()) {
      out = fallback;
      return true;
    }
    return Integer(*it, where.Field(name), low, high, out);
  }

  bool RequiredMember(const Json& object, const char* name, const Where& where,
                      const Json*& member) {
    auto it = object.find(name);
    if (it == object.end()) return Fail(where.Field(name), "is missing");
    member = &*it;
    return true;
  }

  // UTF-8 text to CP850: every character must exist in CP850 and none may
  // be a control character.
  bool Text(const Json& value, const Where& where, std::string& out) {
    if (!value.is_string()) return Fail(where, "must be a text");
    const std::string& utf8 = value.get_ref<const std::string&>();
    out.clear();
    size_t pos = 0;
    while (pos < utf8.size()) {
      long code = DecodeUtf8(utf8, pos);
      if (code < 0) return Fail(where, "is not valid UTF-8");
      if (code < 0x20 || code == 0x7F) {
        return Fail(where, "holds a control character");
      }
      int byte = Cp850ByteOf(static_cast<char32_t>(code));
      // The console glyphs of the control codes (U+25BA ...) map to
      // control bytes: refused like the controls themselves.
      if ((byte >= 0 && byte < 0x20) || byte == 0x7F) {
        return Fail(where, "holds a control character");
      }
      if (byte < 0) {
        char hex[24];
        std::snprintf(hex, sizeof hex, "U+%04lX", code);
        return Fail(
            where, std::string("holds ") + hex + ", which code page 850 lacks");
      }
      out += static_cast<char>(byte);
    }
    return true;
  }

  bool OptionalText(const Json& object, const char* name, const Where& where,
                    std::string& out) {
    auto it = object.find(name);
    if (it == object.end()) {
      out.clear();
      return true;
    }
    return Text(*it, where.Field(name), out);
  }

  // "YYYY-MM-DD", a real calendar date, to its packed form.
  bool Date(const Json& value, const Where& where, std::string& packed) {
    if (!value.is_string()) return Fail(where, "must be a date YYYY-MM-DD");
    const std::string& text = value.get_ref<const std::string&>();
    bool shaped = text.size() == 10 && text[4] == '-' && text[7] == '-';
    for (size_t i = 0; shaped && i < text.size(); ++i) {
      if (i != 4 && i != 7 && (text[i] < '0' || text[i] > '9')) shaped = false;
    }
    if (!shaped) return Fail(where, "must be a date YYYY-MM-DD");
    int year = std::stoi(text.substr(0, 4));
    int month = std::stoi(text.substr(5, 2));
    int day = std::stoi(text.substr(8, 2));
    if (year < 1 || month < 1 || month > 12 || day < 1 ||
        day > MonthLength(year, month)) {
      return Fail(where, "\"" + text + "\" is not a calendar date");
    }
    packed = PackedDate(year, month, day);
    return true;
  }

  // "C.U": a community and a unit number, each of up to four digits.
  bool UnitCode(const Json& value, const Where& where, int& community,
                int& unit) {
    if (!value.is_string()) return Fail(where, "must be a text \"C.U\"");
    const std::string& text = value.get_ref<const std::string&>();
    size_t dot = text.find('.');
    auto digits = [](std::string_view part) {
      return !part.empty() && part.size() <= 4 &&
             std::all_of(part.begin(), part.end(),
                         [](char c) { return c >= '0' && c <= '9'; });
    };
    if (dot == std::string::npos ||
        !digits(std::string_view(text).substr(0, dot)) ||
        !digits(std::string_view(text).substr(dot + 1))) {
      return Fail(where, "\"" + text +
                             "\" is not a unit code (community.unit, four "
                             "digits at most each)");
    }
    community = std::stoi(text.substr(0, dot));
    unit = std::stoi(text.substr(dot + 1));
    return true;
  }

  // An optional array of at most `limit` elements.
  bool OptionalArray(const Json& object, const char* name, const Where& where,
                     size_t limit, const Json*& array) {
    static const Json kEmpty = Json::array();
    auto it = object.find(name);
    array = &kEmpty;
    if (it == object.end()) return true;
    if (!it->is_array()) return Fail(where.Field(name), "must be a list");
    if (it->size() > limit) {
      return Fail(where.Field(name),
                  "holds more than " + std::to_string(limit) + " elements");
    }
    array = &*it;
    return true;
  }

 private:
  std::string& error_;
};

constexpr int64_t kInt16Max = std::numeric_limits<int16_t>::max();
constexpr int64_t kInt16Min = std::numeric_limits<int16_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();

// --- Sections
// -----------------------------------------------------------------

struct Builder {
  explicit Builder(std::string& error) : check(error) {}
  Checker check;
  RecordSet records;
  std::map<int, size_t> receipt_keys;   // key byte -> index
  std::map<int, size_t> communities;    // code -> index
  std::set<std::pair<int, int>> units;  // (community, unit) present
  std::map<std::pair<int, int>, size_t>
      unit_numbers;  // (community, unit % 1000)
};

bool ReceiptType(const Json& item, size_t i, Builder& b) {
  std::map<int, size_t>& seen = b.receipt_keys;
  Where where = Where("receipt_types").Index(i);
  if (!b.check.Object(item, where, {"code", "number", "class"})) return false;
  bool has_code = item.contains("code");
  bool has_number = item.contains("number");
  if (has_code == has_number) {
    return b.check.Fail(where,
                        "needs either \"code\" (1 to 8) or "
                        "\"number\" (0 to 9999)");
  }
  int64_t code = 0, number = 0, type_class = 0;
  int key = 0;
  if (has_code) {
    if (!b.check.Integer(item["code"], where.Field("code"), 1, 8, code)) {
      return false;
    }
    key = static_cast<int>(code);
  } else {
    if (!b.check.Integer(item["number"], where.Field("number"), 0, 9999,
                         number)) {
      return false;
    }
    key = 128 + static_cast<int>(number % 100);
  }
  if (!b.check.OptionalInteger(item, "class", where, kInt16Min, kInt16Max, 0,
                               type_class)) {
    return false;
  }
  auto [it, inserted] = seen.emplace(key, i);
  if (!inserted) {
    return b.check.Fail(where, "is the same receipt type as receipt_types[" +
                                   std::to_string(it->second) + "]");
  }
  RecordBuilder record(kThRebutFile);
  record.Bytes("code", std::string(1, static_cast<char>(key)));
  record.Int("number", number);
  record.Int("class", type_class);
  b.records.files[kThRebutFile].push_back(record.Take());
  return true;
}

bool Community(const Json& item, size_t i, Builder& b) {
  std::map<int, size_t>& seen = b.communities;
  Where where = Where("communities").Index(i);
  if (!b.check.Object(
          item, where,
          {"code", "name", "monthly_fee", "fee_tax_type", "last_settlement",
           "tax_id", "special_columns", "expense_headings"})) {
    return false;
  }
  const Json* code_value = nullptr;
  int64_t code = 0, fee = 0, tax_type = 0;
  std::string name, tax_id, settlement = PackedDate(0, 0, 0);
  if (!b.check.RequiredMember(item, "code", where, code_value) ||
      !b.check.Integer(*code_value, where.Field("code"), 0, 9999, code) ||
      !b.check.OptionalText(item, "name", where, name) ||
      !b.check.OptionalInteger(item, "monthly_fee", where, kInt32Min, kInt32Max,
                               0, fee) ||
      !b.check.OptionalInteger(item, "fee_tax_type", where, 0, 1, 0,
                               tax_type) ||
      !b.check.OptionalText(item, "tax_id", where, tax_id)) {
    return false;
  }
  auto settled = item.find("last_settlement");
  if (settled != item.end() && !settled->is_null() &&
      !b.check.Date(*settled, where.Field("last_settlement"), settlement)) {
    return false;
  }
  auto [it, inserted] = seen.emplace(static_cast<int>(code), i);
  if (!inserted) {
    return b.check.Fail(
        where.Field("code"),
        "repeats communities[" + std::to_string(it->second) + "]");
  }
  RecordBuilder record(kFinquesFile);
  record.Bytes("code", PackedCommunity(static_cast<int>(code)));
  record.Bytes("name", name);
  record.Int("monthly_fee", fee);
  record.Int("fee_tax_type", tax_type);
  record.Bytes("last_settlement", settlement);
  record.Bytes("tax_id", tax_id);
  const Json* columns = nullptr;
  if (!b.check.OptionalArray(item, "special_columns", where, 6, columns)) {
    return false;
  }
  for (int k = 1; k <= 6; ++k) {
    std::string title;
    int64_t total = 0;
    if (static_cast<size_t>(k) <= columns->size()) {
      const Json& column = (*columns)[k - 1];
      Where at = where.Field("special_columns").Index(k - 1);
      if (!b.check.Object(column, at, {"title", "coefficient_total"}) ||
          !b.check.OptionalText(column, "title", at, title) ||
          !b.check.OptionalInteger(column, "coefficient_total", at, kInt32Min,
                                   kInt32Max, 0, total)) {
        return false;
      }
    }
    record.Bytes(IndexedName("special_title", k), title);
    record.Int(IndexedName("special_total", k), total);
  }
  b.records.files[kFinquesFile].push_back(record.Take());

  auto headings = item.find("expense_headings");
  if (headings != item.end()) {
    std::string text;
    if (!b.check.Text(*headings, where.Field("expense_headings"), text)) {
      return false;
    }
    RecordBuilder desp(kFinDespFile);
    desp.Bytes("code", PackedCommunity(static_cast<int>(code)));
    desp.Bytes("headings", text);
    b.records.files[kFinDespFile].push_back(desp.Take());
  }
  return true;
}

bool Unit(const Json& item, size_t i, Builder& b) {
  Where where = Where("units").Index(i);
  if (!b.check.Object(item, where,
                      {"code", "owner", "designation", "coefficients",
                       "receipt_amounts", "free_entries"})) {
    return false;
  }
  const Json* code_value = nullptr;
  int community = 0, unit = 0;
  std::string owner, designation;
  if (!b.check.RequiredMember(item, "code", where, code_value) ||
      !b.check.UnitCode(*code_value, where.Field("code"), community, unit) ||
      !b.check.OptionalText(item, "owner", where, owner) ||
      !b.check.OptionalText(item, "designation", where, designation)) {
    return false;
  }
  if (!b.communities.count(community)) {
    return b.check.Fail(where.Field("code"),
                        "community " + std::to_string(community) +
                            " is not among the communities");
  }
  if (!b.units.insert({community, unit}).second) {
    return b.check.Fail(where.Field("code"), "repeats another unit");
  }
  // The report keeps a unit's figures under its last three digits.
  auto [it, inserted] =
      b.unit_numbers.emplace(std::make_pair(community, unit % 1000), i);
  if (!inserted) {
    return b.check.Fail(where.Field("code"),
                        "ends in the same three digits as units[" +
                            std::to_string(it->second) + "]");
  }
  RecordBuilder record(kPropietFile);
  record.Bytes("code", PackedUnit(community, unit));
  record.Bytes("owner", owner);
  record.Bytes("designation", designation);

  const Json* coefficients = nullptr;
  const Json* amounts = nullptr;
  const Json* free_entries = nullptr;
  if (!b.check.OptionalArray(item, "coefficients", where, 7, coefficients) ||
      !b.check.OptionalArray(item, "receipt_amounts", where, 8, amounts) ||
      !b.check.OptionalArray(item, "free_entries", where, 2, free_entries)) {
    return false;
  }
  for (int k = 1; k <= 7; ++k) {
    int64_t value = 0;
    if (static_cast<size_t>(k) <= coefficients->size() &&
        !b.check.Integer((*coefficients)[k - 1],
                         where.Field("coefficients").Index(k - 1), kInt32Min,
                         kInt32Max, value)) {
      return false;
    }
    record.Int(IndexedName("coefficient", k), value);
  }
  for (int q = 1; q <= 8; ++q) {
    int64_t value = 0;
    if (static_cast<size_t>(q) <= amounts->size() &&
        !b.check.Integer((*amounts)[q - 1],
                         where.Field("receipt_amounts").Index(q - 1), kInt32Min,
                         kInt32Max, value)) {
      return false;
    }
    record.Int(IndexedName("receipt_amount", q), value);
  }
  for (int e = 1; e <= 2; ++e) {
    int64_t type = 0, amount = 0;
    if (static_cast<size_t>(e) <= free_entries->size()) {
      const Json& entry = (*free_entries)[e - 1];
      Where at = where.Field("free_entries").Index(e - 1);
      const Json* type_value = nullptr;
      if (!b.check.Object(entry, at, {"type", "amount"}) ||
          !b.check.RequiredMember(entry, "type", at, type_value) ||
          !b.check.Integer(*type_value, at.Field("type"), 0, kInt16Max, type) ||
          !b.check.OptionalInteger(entry, "amount", at, kInt32Min, kInt32Max, 0,
                                   amount)) {
        return false;
      }
    }
    record.Int(IndexedName("free_type", e), type);
    record.Int(IndexedName("free_amount", e), amount);
  }
  b.records.files[kPropietFile].push_back(record.Take());
  return true;
}

bool Collection(const Json& item, size_t i, Builder& b) {
  Where where = Where("collections").Index(i);
  if (!b.check.Object(item, where,
                      {"unit", "date", "amount", "deduction", "type"})) {
    return false;
  }
  const Json* unit_value = nullptr;
  const Json* date_value = nullptr;
  int community = 0, unit = 0;
  std::string date, type = "C";
  int64_t amount = 0, deduction = 0;
  if (!b.check.RequiredMember(item, "unit", where, unit_value) ||
      !b.check.UnitCode(*unit_value, where.Field("unit"), community, unit) ||
      !b.check.RequiredMember(item, "date", where, date_value) ||
      !b.check.Date(*date_value, where.Field("date"), date) ||
      !b.check.OptionalInteger(item, "amount", where, kInt32Min, kInt32Max, 0,
                               amount) ||
      !b.check.OptionalInteger(item, "deduction", where, kInt32Min, kInt32Max,
                               0, deduction)) {
    return false;
  }
  if (item.contains("type") &&
      !b.check.Text(item["type"], where.Field("type"), type)) {
    return false;
  }
  if (type.size() != 1) {
    return b.check.Fail(where.Field("type"), "must be one character");
  }
  if (!b.units.count({community, unit})) {
    return b.check.Fail(where.Field("unit"), "is not among the units");
  }
  RecordBuilder record(kCobramFile);
  record.Bytes("unit", PackedUnit(community, unit));
  record.Bytes("date", date);
  record.Int("amount", amount);
  record.Int("deduction", deduction);
  record.Bytes("type", type);
  b.records.files[kCobramFile].push_back(record.Take());
  return true;
}

bool Payment(const Json& item, size_t i, Builder& b) {
  Where where = Where("payments").Index(i);
  if (!b.check.Object(item, where,
                      {"community", "date", "amount", "single_unit", "code"})) {
    return false;
  }
  const Json* community_value = nullptr;
  const Json* date_value = nullptr;
  int64_t community = 0, amount = 0, code = 0;
  std::string date;
  bool single = false;
  if (!b.check.RequiredMember(item, "community", where, community_value) ||
      !b.check.Integer(*community_value, where.Field("community"), 0, 9999,
                       community) ||
      !b.check.RequiredMember(item, "date", where, date_value) ||
      !b.check.Date(*date_value, where.Field("date"), date) ||
      !b.check.OptionalInteger(item, "amount", where, kInt32Min, kInt32Max, 0,
                               amount)) {
    return false;
  }
  auto flag = item.find("single_unit");
  if (flag != item.end()) {
    if (!flag->is_boolean()) {
      return b.check.Fail(where.Field("single_unit"), "must be true or false");
    }
    single = flag->get<bool>();
  }
  // A single unit's number, or a report column: 0 previous balance,
  // 1 .. 7 columns A .. G, 8 private expenses.
  if (!b.check.OptionalInteger(item, "code", where, 0, single ? 999 : 8, 0,
                               code)) {
    return false;
  }
  if (!b.communities.count(static_cast<int>(community))) {
    return b.check.Fail(where.Field("community"),
                        "is not among the communities");
  }
  if (single && !b.unit_numbers.count(
                    {static_cast<int>(community), static_cast<int>(code)})) {
    return b.check.Fail(where.Field("code"), "is not a unit of the community");
  }
  RecordBuilder record(kPagamFile);
  record.Bytes("community", PackedCommunity(static_cast<int>(community)));
  record.Bytes("date", date);
  record.Int("amount", amount);
  record.Bytes("single_unit", single ? "S" : " ");
  record.Bytes("code", PackedCommunity(static_cast<int>(code)));
  b.records.files[kPagamFile].push_back(record.Take());
  return true;
}

using ElementReader = bool (*)(const Json&, size_t, Builder&);

// The reader of a section's elements; nullptr for a name that is none.
ElementReader ReaderOf(std::string_view section) {
  if (section == "receipt_types") return ReceiptType;
  if (section == "communities") return Community;
  if (section == "units") return Unit;
  if (section == "collections") return Collection;
  if (section == "payments") return Payment;
  return nullptr;
}

bool BuildAll(const Json& dataset, Builder& b) {
  if (!b.check.Object(dataset, Where("dataset"),
                      {"receipt_types", "communities", "units", "collections",
                       "payments"})) {
    return false;
  }
  // Communities before units before collections and payments: each refers
  // to what came before.
  for (const Section& section : kSections) {
    auto it = dataset.find(section.name);
    if (it == dataset.end() || it->is_null()) continue;
    if (!it->is_array()) {
      return b.check.Fail(Where(section.name), "must be a list");
    }
    const ElementReader reader = ReaderOf(section.name);
    for (size_t i = 0; i < it->size(); ++i) {
      if (!reader((*it)[i], i, b)) return false;
    }
  }
  return true;
}

// Records go to their files in key order; equal keys keep the order they
// were given in.
void SortRecords(RecordSet& records) {
  for (int file = 0; file < kFileCount; ++file) {
    auto& list = records.files[file];
    std::stable_sort(list.begin(), list.end(),
                     [file](const std::string& a, const std::string& b) {
                       return KeyOf(static_cast<FileIndex>(file), a) <
                              KeyOf(static_cast<FileIndex>(file), b);
                     });
  }
}

int DigitsValue(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

std::string TrimmedUtf8(const std::string& cp850) {
  size_t end = cp850.find_last_not_of(' ');
  return Utf8FromCp850(end == std::string::npos ? ""
                                                : cp850.substr(0, end + 1));
}

Json DateJson(const std::string& packed) {
  std::string digits = UnpackDigits(packed);
  if (digits == "00000000") return nullptr;
  return digits.substr(0, 4) + "-" + digits.substr(4, 2) + "-" +
         digits.substr(6, 2);
}

std::string UnitText(const std::string& packed) {
  std::string digits = UnpackDigits(packed);
  return std::to_string(DigitsValue(digits.substr(0, 4))) + "." +
         std::to_string(DigitsValue(digits.substr(4, 4)));
}

// Drops trailing elements equal to `empty` (the loader's defaults).
void TrimTrailing(Json& array, const Json& empty) {
  while (!array.empty() && array.back() == empty) array.erase(array.size() - 1);
}

}  // namespace

struct DatasetBuilder::Impl {
  std::string error;
  Builder builder{error};
  std::string last_section;
  bool spent = false;
};

DatasetBuilder::DatasetBuilder() : impl_(std::make_unique<Impl>()) {}
DatasetBuilder::~DatasetBuilder() = default;

bool DatasetBuilder::Add(std::string_view section, size_t index,
                         const Json& element) {
  Impl& impl = *impl_;
  if (impl.spent) return false;
  const ElementReader reader = ReaderOf(section);
  if (reader == nullptr) {
    impl.error = std::string(section) + ": not a section of a dataset";
    impl.spent = true;
    return false;
  }
  try {
    if (!reader(element, index, impl.builder)) impl.spent = true;
  } catch (const std::exception& e) {
    impl.error =
        std::string(section) + "[" + std::to_string(index) + "]: " + e.what();
    impl.spent = true;
  }
  return !impl.spent;
}

bool DatasetBuilder::Finish(RecordSet& records) {
  records = RecordSet{};
  if (impl_->spent) return false;
  impl_->spent = true;
  SortRecords(impl_->builder.records);
  records = std::move(impl_->builder.records);
  return true;
}

const std::string& DatasetBuilder::error() const { return impl_->error; }

std::string PackedCommunity(int community) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04d", community % 10000);
  return PackDigits(digits);
}

std::string PackedUnit(int community, int unit) {
  return PackedCommunity(community) + PackedCommunity(unit);
}

std::string PackedDate(int year, int month, int day) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d", year % 10000,
                month % 100, day % 100);
  return PackDigits(digits);
}

bool RecordsFromDataset(const Json& dataset, RecordSet& records,
                        std::string& error) {
  records = RecordSet{};
  try {
    Builder builder(error);
    if (!BuildAll(dataset, builder)) return false;
    SortRecords(builder.records);
    records = std::move(builder.records);
    return true;
  } catch (const std::exception& e) {
    error = std::string("dataset: ") + e.what();
    records = RecordSet{};
    return false;
  }
}

bool ParseDataset(std::string_view json_text, RecordSet& records,
                  std::string& error) {
  records = RecordSet{};
  Json dataset;
  try {
    dataset = Json::parse(json_text);
  } catch (const std::exception& e) {
    error = std::string("not valid JSON: ") + e.what();
    return false;
  }
  return RecordsFromDataset(dataset, records, error);
}

bool ReadDatasetFile(const std::string& path, RecordSet& records,
                     std::string& error) {
  records = RecordSet{};
  std::error_code ignored;
  std::ifstream in(path, std::ios::binary);
  std::string text;
  if (in && !std::filesystem::is_directory(path, ignored)) {
    text.assign(std::istreambuf_iterator<char>(in),
                std::istreambuf_iterator<char>());
  }
  if (!in || std::filesystem::is_directory(path, ignored)) {
    error = path + ": cannot be read";
    return false;
  }
  if (!ParseDataset(text, records, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

std::string KeyOf(FileIndex file, std::string_view record) {
  std::string key;
  for (const KeySegmentSpec& segment : LayoutOf(file).key0) {
    size_t start = segment.position - 1u;
    if (start < record.size()) {
      key += record.substr(start, segment.length);
    }
  }
  return key;
}

Json ReceiptTypeJson(std::string_view bytes) {
  RecordReader record(kThRebutFile, bytes);
  auto key = static_cast<uint8_t>(record.Bytes("code")[0]);
  Json item = Json::object();
  if (key >= 128) {
    int64_t number = record.Int("number");
    bool matches = number >= 0 && number <= 9999 && number % 100 == key - 128;
    item["number"] = matches ? number : key - 128;
  } else {
    item["code"] = key;
  }
  item["class"] = record.Int("class");
  return item;
}

Json CommunityJson(std::string_view bytes, const std::string* headings) {
  RecordReader record(kFinquesFile, bytes);
  Json item = Json::object();
  item["code"] = DigitsValue(UnpackDigits(record.Bytes("code")));
  item["name"] = TrimmedUtf8(record.Bytes("name"));
  item["monthly_fee"] = record.Int("monthly_fee");
  item["fee_tax_type"] = record.Int("fee_tax_type");
  item["last_settlement"] = DateJson(record.Bytes("last_settlement"));
  item["tax_id"] = TrimmedUtf8(record.Bytes("tax_id"));
  Json columns = Json::array();
  for (int k = 1; k <= 6; ++k) {
    Json column = Json::object();
    column["title"] =
        TrimmedUtf8(record.Bytes(IndexedName("special_title", k)));
    column["coefficient_total"] = record.Int(IndexedName("special_total", k));
    columns.push_back(std::move(column));
  }
  Json unused = Json::object();
  unused["title"] = "";
  unused["coefficient_total"] = 0;
  TrimTrailing(columns, unused);
  item["special_columns"] = std::move(columns);
  if (headings != nullptr) {
    RecordReader desp(kFinDespFile, *headings);
    item["expense_headings"] = TrimmedUtf8(desp.Bytes("headings"));
  }
  return item;
}

Json UnitJson(std::string_view bytes) {
  RecordReader record(kPropietFile, bytes);
  Json item = Json::object();
  item["code"] = UnitText(record.Bytes("code"));
  item["owner"] = TrimmedUtf8(record.Bytes("owner"));
  item["designation"] = TrimmedUtf8(record.Bytes("designation"));
  Json coefficients = Json::array();
  for (int k = 1; k <= 7; ++k) {
    coefficients.push_back(record.Int(IndexedName("coefficient", k)));
  }
  Json amounts = Json::array();
  for (int q = 1; q <= 8; ++q) {
    amounts.push_back(record.Int(IndexedName("receipt_amount", q)));
  }
  Json free_entries = Json::array();
  for (int e = 1; e <= 2; ++e) {
    Json entry = Json::object();
    entry["type"] = record.Int(IndexedName("free_type", e));
    entry["amount"] = record.Int(IndexedName("free_amount", e));
    free_entries.push_back(std::move(entry));
  }
  Json unused = Json::object();
  unused["type"] = 0;
  unused["amount"] = 0;
  TrimTrailing(free_entries, unused);
  item["coefficients"] = std::move(coefficients);
  item["receipt_amounts"] = std::move(amounts);
  item["free_entries"] = std::move(free_entries);
  return item;
}

Json CollectionJson(std::string_view bytes) {
  RecordReader record(kCobramFile, bytes);
  Json item = Json::object();
  item["unit"] = UnitText(record.Bytes("unit"));
  item["date"] = DateJson(record.Bytes("date"));
  item["amount"] = record.Int("amount");
  item["deduction"] = record.Int("deduction");
  item["type"] = Utf8FromCp850(record.Bytes("type"));
  return item;
}

Json PaymentJson(std::string_view bytes) {
  RecordReader record(kPagamFile, bytes);
  Json item = Json::object();
  item["community"] = DigitsValue(UnpackDigits(record.Bytes("community")));
  item["date"] = DateJson(record.Bytes("date"));
  item["amount"] = record.Int("amount");
  item["single_unit"] = record.Bytes("single_unit") == "S";
  item["code"] = DigitsValue(UnpackDigits(record.Bytes("code")));
  return item;
}

Json RecordJson(FileIndex file, std::string_view record,
                const std::map<std::string, std::string>& headings) {
  switch (file) {
    case kThRebutFile:
      return ReceiptTypeJson(record);
    case kFinquesFile: {
      auto it = headings.find(KeyOf(kFinquesFile, record));
      return CommunityJson(record,
                           it == headings.end() ? nullptr : &it->second);
    }
    case kPropietFile:
      return UnitJson(record);
    case kCobramFile:
      return CollectionJson(record);
    default:
      return PaymentJson(record);
  }
}

Json DatasetFromRecords(const RecordSet& records) {
  std::map<std::string, const std::string*> headings;
  for (const std::string& record : records.files[kFinDespFile]) {
    headings[KeyOf(kFinDespFile, record)] = &record;
  }
  Json dataset = Json::object();
  Json& types = dataset["receipt_types"] = Json::array();
  for (const auto& record : records.files[kThRebutFile]) {
    types.push_back(ReceiptTypeJson(record));
  }
  Json& communities = dataset["communities"] = Json::array();
  for (const auto& record : records.files[kFinquesFile]) {
    auto it = headings.find(KeyOf(kFinquesFile, record));
    communities.push_back(
        CommunityJson(record, it == headings.end() ? nullptr : it->second));
  }
  Json& units = dataset["units"] = Json::array();
  for (const auto& record : records.files[kPropietFile]) {
    units.push_back(UnitJson(record));
  }
  Json& collections = dataset["collections"] = Json::array();
  for (const auto& record : records.files[kCobramFile]) {
    collections.push_back(CollectionJson(record));
  }
  Json& payments = dataset["payments"] = Json::array();
  for (const auto& record : records.files[kPagamFile]) {
    payments.push_back(PaymentJson(record));
  }
  return dataset;
}

}  // namespace tarnevos::keldades
