#ifndef TARNEVOS_DATA_DATA_FILES_H_
#define TARNEVOS_DATA_DATA_FILES_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The six data files the report reads: their handles, record areas and the
// fields of their records. The field tables are shared with the data tool
// keldades, which writes the files.
namespace tarnevos {

constexpr int16_t kThRebutHandle = 504;
constexpr int16_t kFinquesHandle = 511;
constexpr int16_t kFinDespHandle = 512;
constexpr int16_t kPropietHandle = 513;
constexpr int16_t kCobramHandle = 514;
constexpr int16_t kPagamHandle = 515;

constexpr size_t kThRebutLength = 24;
constexpr size_t kFinquesLength = 388;
constexpr size_t kFinDespLength = 604;
constexpr size_t kPropietLength = 428;
constexpr size_t kCobramLength = 24;
constexpr size_t kPagamLength = 44;

// The record areas: each holds the last record read from its file.
struct RecordAreas {
  std::array<uint8_t, kThRebutLength> threbut{};
  std::array<uint8_t, kFinquesLength> finques{};
  std::array<uint8_t, kFinDespLength> findesp{};
  std::array<uint8_t, kPropietLength> propiet{};
  std::array<uint8_t, kCobramLength> cobram{};
  std::array<uint8_t, kPagamLength> pagam{};
};
RecordAreas& Areas();

// Openers, each OpenDataFile(handle, RootDir + "DADES\<name>", area).
void OpenThRebut();
void OpenFinques();
void OpenFinDesp();
void OpenPropiet();
void OpenPagam();
void OpenCobram();
// The six in the driver's order: THRebut, FinquesH, FinDespH, PropietH,
// PagamH, CobramH.
void OpenAllDataFiles();

// Field access by offset (little-endian integers, CP850 texts).
int32_t GetInt32(const uint8_t* record, size_t offset);
int16_t GetInt16(const uint8_t* record, size_t offset);
std::string GetBytes(const uint8_t* record, size_t offset, size_t width);
void PutInt32(uint8_t* record, size_t offset, int32_t value);
void PutInt16(uint8_t* record, size_t offset, int16_t value);
// Copies `value` into the field, blank-padded or cut to `width`.
void PutText(uint8_t* record, size_t offset, size_t width,
             std::string_view value);
void PutBytes(uint8_t* record, size_t offset, std::string_view bytes);

// Field offsets the program uses.
namespace field {
// THRebut
constexpr size_t kReceiptCode = 0;    // 1
constexpr size_t kReceiptClass = 21;  // int16
// FinquesH
constexpr size_t kCommunityCode = 0;     // 2 packed
constexpr size_t kCommunityName = 6;     // 30
constexpr size_t kMonthlyFee = 110;      // int32
constexpr size_t kFeeTaxType = 114;      // int16
constexpr size_t kLastSettlement = 160;  // 4 packed date
constexpr size_t SpecialTotal(int i) { return 164 + 34 * (i - 1); }  // int32
constexpr size_t SpecialTitle(int i) { return 168 + 34 * (i - 1); }  // 30
constexpr size_t kCommunityTaxId = 368;                              // 17
// FinDespH
constexpr size_t kHeadings = 2;  // 600
// PropietH
constexpr size_t kUnitCode = 0;                                    // 4 packed
constexpr size_t kOwnerName = 8;                                   // 30
constexpr size_t kDesignation = 38;                                // 10
constexpr size_t Coefficient(int k) { return 211 + 4 * (k - 1); }  // int32
constexpr size_t ReceiptAmount(int q) {
  return 239 + 7 * (q - 1) + 3;
}  // int32
constexpr size_t FreeType(int e) { return 295 + 9 * (e - 1); }        // int16
constexpr size_t FreeAmount(int e) { return 295 + 9 * (e - 1) + 5; }  // int32
// CobramH
constexpr size_t kCollectionUnit = 0;     // 4 packed
constexpr size_t kCollectionDate = 4;     // 4 packed date
constexpr size_t kCollectionFirst = 13;   // int32
constexpr size_t kCollectionSecond = 17;  // int32
constexpr size_t kCollectionType = 21;    // 1
// PagamH
constexpr size_t kPaymentCommunity = 0;  // 2 packed
constexpr size_t kPaymentDate = 2;       // 4 packed date
constexpr size_t kPaymentAmount = 35;    // int32
constexpr size_t kPaymentSingle = 39;    // 1 ("S")
constexpr size_t kPaymentCode = 40;      // 2 packed
}  // namespace field

// One field of a record layout, for the data tool.
enum class FieldType { kPacked, kDate, kText, kInt16, kInt32, kChar };
struct FieldSpec {
  const char* name;
  size_t offset;
  size_t width;
  FieldType type;
};
struct KeySegmentSpec {
  uint16_t position;  // 1-based
  uint16_t length;
  uint16_t flags;
};
struct FileLayout {
  const char* name;  // "THRebut"
  int16_t handle;
  size_t record_length;
  std::vector<FieldSpec> fields;
  std::vector<KeySegmentSpec> key0;  // segments of key 0
};
// The six layouts in the driver's opening order.
const std::vector<FileLayout>& FileLayouts();
// The layout named `name` (compared without regard to ASCII case);
// nullptr when there is none.
const FileLayout* FindFileLayout(std::string_view name);

// The creation specification of a layout: record length, page size and
// number of keys (one: key 0) in a 16-byte header, then key 0's segments.
constexpr uint16_t kDataPageSize = 4096;
std::string CreationSpecification(const FileLayout& layout);
// A dictionary file's contents: the file description's length (16-bit
// little-endian) followed by the description itself.
std::string DictionaryBytes(const FileLayout& layout);

}  // namespace tarnevos

#endif  // TARNEVOS_DATA_DATA_FILES_H_
