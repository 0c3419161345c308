#include "data/data_files.h"

#include <algorithm>
#include <cstring>

#include "data/access_layer.h"
#include "settings/session.h"
#include "util/little_endian.h"

namespace tarnevos {
namespace {

void Open(int16_t handle, const char* name, uint8_t* area, size_t size) {
  int16_t status = 0;
  // A file that cannot be opened stops the program inside OpenDataFile.
  OpenDataFile(handle, Session().root_dir + "DADES\\" + name, area, size,
               status);
}

constexpr uint16_t kDup = 0x0001;
constexpr uint16_t kNext = 0x0010;

constexpr const char* kSpecialTotalNames[] = {
    "special_total_1", "special_total_2", "special_total_3",
    "special_total_4", "special_total_5", "special_total_6"};
constexpr const char* kSpecialTitleNames[] = {
    "special_title_1", "special_title_2", "special_title_3",
    "special_title_4", "special_title_5", "special_title_6"};
constexpr const char* kCoefficientNames[] = {
    "coefficient_1", "coefficient_2", "coefficient_3", "coefficient_4",
    "coefficient_5", "coefficient_6", "coefficient_7"};
constexpr const char* kReceiptAmountNames[] = {
    "receipt_amount_1", "receipt_amount_2", "receipt_amount_3",
    "receipt_amount_4", "receipt_amount_5", "receipt_amount_6",
    "receipt_amount_7", "receipt_amount_8"};
constexpr const char* kFreeTypeNames[] = {"free_type_1", "free_type_2"};
constexpr const char* kFreeAmountNames[] = {"free_amount_1", "free_amount_2"};

std::vector<FileLayout> BuildLayouts() {
  using F = FieldType;
  std::vector<FileLayout> layouts;

  // The one-byte code is the byte 1 .. 8 of a fixed type or 128 + n for a
  // type numbered n (last two digits); the whole number is kept beside it.
  layouts.push_back({"THRebut",
                     kThRebutHandle,
                     kThRebutLength,
                     {{"code", field::kReceiptCode, 1, F::kChar},
                      {"number", 1, 2, F::kInt16},
                      {"class", field::kReceiptClass, 2, F::kInt16}},
                     {{1, 1, 0}}});

  FileLayout finques{"FinquesH",
                     kFinquesHandle,
                     kFinquesLength,
                     {{"code", field::kCommunityCode, 2, F::kPacked},
                      {"name", field::kCommunityName, 30, F::kText},
                      {"monthly_fee", field::kMonthlyFee, 4, F::kInt32},
                      {"fee_tax_type", field::kFeeTaxType, 2, F::kInt16},
                      {"last_settlement", field::kLastSettlement, 4, F::kDate}},
                     {{1, 2, 0}}};
  for (int i = 1; i <= 6; ++i) {
    finques.fields.push_back(
        {kSpecialTotalNames[i - 1], field::SpecialTotal(i), 4, F::kInt32});
    finques.fields.push_back(
        {kSpecialTitleNames[i - 1], field::SpecialTitle(i), 30, F::kText});
  }
  finques.fields.push_back({"tax_id", field::kCommunityTaxId, 17, F::kText});
  layouts.push_back(std::move(finques));

  layouts.push_back({"FinDespH",
                     kFinDespHandle,
                     kFinDespLength,
                     {{"code", field::kCommunityCode, 2, F::kPacked},
                      {"headings", field::kHeadings, 600, F::kText}},
                     {{1, 2, 0}}});

  FileLayout propiet{"PropietH",
                     kPropietHandle,
                     kPropietLength,
                     {{"code", field::kUnitCode, 4, F::kPacked},
                      {"owner", field::kOwnerName, 30, F::kText},
                      {"designation", field::kDesignation, 10, F::kText}},
                     {{1, 4, 0}}};
  for (int k = 1; k <= 7; ++k) {
    propiet.fields.push_back(
        {kCoefficientNames[k - 1], field::Coefficient(k), 4, F::kInt32});
  }
  for (int q = 1; q <= 8; ++q) {
    propiet.fields.push_back(
        {kReceiptAmountNames[q - 1], field::ReceiptAmount(q), 4, F::kInt32});
  }
  for (int e = 1; e <= 2; ++e) {
    propiet.fields.push_back(
        {kFreeTypeNames[e - 1], field::FreeType(e), 2, F::kInt16});
    propiet.fields.push_back(
        {kFreeAmountNames[e - 1], field::FreeAmount(e), 4, F::kInt32});
  }
  layouts.push_back(std::move(propiet));

  layouts.push_back({"PagamH",
                     kPagamHandle,
                     kPagamLength,
                     {{"community", field::kPaymentCommunity, 2, F::kPacked},
                      {"date", field::kPaymentDate, 4, F::kDate},
                      {"amount", field::kPaymentAmount, 4, F::kInt32},
                      {"single_unit", field::kPaymentSingle, 1, F::kChar},
                      {"code", field::kPaymentCode, 2, F::kPacked}},
                     {{1, 2, kDup | kNext}, {3, 4, kDup}}});

  layouts.push_back({"CobramH",
                     kCobramHandle,
                     kCobramLength,
                     {{"unit", field::kCollectionUnit, 4, F::kPacked},
                      {"date", field::kCollectionDate, 4, F::kDate},
                      {"amount", field::kCollectionFirst, 4, F::kInt32},
                      {"deduction", field::kCollectionSecond, 4, F::kInt32},
                      {"type", field::kCollectionType, 1, F::kChar}},
                     {{1, 4, kDup | kNext}, {5, 4, kDup}}});
  return layouts;
}

}  // namespace

RecordAreas& Areas() {
  static RecordAreas areas;
  return areas;
}

void OpenThRebut() {
  Open(kThRebutHandle, "THRebut", Areas().threbut.data(),
       Areas().threbut.size());
}
void OpenFinques() {
  Open(kFinquesHandle, "FinquesH", Areas().finques.data(),
       Areas().finques.size());
}
void OpenFinDesp() {
  Open(kFinDespHandle, "FinDespH", Areas().findesp.data(),
       Areas().findesp.size());
}
void OpenPropiet() {
  Open(kPropietHandle, "PropietH", Areas().propiet.data(),
       Areas().propiet.size());
}
void OpenPagam() {
  Open(kPagamHandle, "PagamH", Areas().pagam.data(), Areas().pagam.size());
}
void OpenCobram() {
  Open(kCobramHandle, "CobramH", Areas().cobram.data(), Areas().cobram.size());
}

void OpenAllDataFiles() {
  OpenThRebut();
  OpenFinques();
  OpenFinDesp();
  OpenPropiet();
  OpenPagam();
  OpenCobram();
}

int32_t GetInt32(const uint8_t* record, size_t offset) {
  return le::LoadI32(record + offset);
}

int16_t GetInt16(const uint8_t* record, size_t offset) {
  return le::LoadI16(record + offset);
}

std::string GetBytes(const uint8_t* record, size_t offset, size_t width) {
  return std::string(reinterpret_cast<const char*>(record + offset), width);
}

void PutInt32(uint8_t* record, size_t offset, int32_t value) {
  le::StoreI32(record + offset, value);
}

void PutInt16(uint8_t* record, size_t offset, int16_t value) {
  le::StoreI16(record + offset, value);
}

void PutText(uint8_t* record, size_t offset, size_t width,
             std::string_view value) {
  size_t count = std::min(width, value.size());
  std::memcpy(record + offset, value.data(), count);
  std::memset(record + offset + count, ' ', width - count);
}

void PutBytes(uint8_t* record, size_t offset, std::string_view bytes) {
  std::memcpy(record + offset, bytes.data(), bytes.size());
}

const std::vector<FileLayout>& FileLayouts() {
  static const std::vector<FileLayout> layouts = BuildLayouts();
  return layouts;
}

const FileLayout* FindFileLayout(std::string_view name) {
  auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (const FileLayout& layout : FileLayouts()) {
    std::string_view candidate = layout.name;
    if (candidate.size() == name.size() &&
        std::equal(candidate.begin(), candidate.end(), name.begin(),
                   [&](char a, char b) { return lower(a) == lower(b); })) {
      return &layout;
    }
  }
  return nullptr;
}

std::string CreationSpecification(const FileLayout& layout) {
  std::string spec(16 + 16 * layout.key0.size(), '\0');
  auto* bytes = reinterpret_cast<uint8_t*>(spec.data());
  PutInt16(bytes, 0, static_cast<int16_t>(layout.record_length));
  PutInt16(bytes, 2, static_cast<int16_t>(kDataPageSize));
  PutInt16(bytes, 4, 1);
  for (size_t s = 0; s < layout.key0.size(); ++s) {
    const KeySegmentSpec& segment = layout.key0[s];
    PutInt16(bytes, 16 + 16 * s, static_cast<int16_t>(segment.position));
    PutInt16(bytes, 16 + 16 * s + 2, static_cast<int16_t>(segment.length));
    PutInt16(bytes, 16 + 16 * s + 4, static_cast<int16_t>(segment.flags));
  }
  return spec;
}

std::string DictionaryBytes(const FileLayout& layout) {
  std::string spec = CreationSpecification(layout);
  std::string bytes(2, '\0');
  PutInt16(reinterpret_cast<uint8_t*>(bytes.data()), 0,
           static_cast<int16_t>(spec.size()));
  return bytes + spec;
}

}  // namespace tarnevos
