#ifndef TARNEVOS_TOOLS_KELDADES_DATASET_H_
#define TARNEVOS_TOOLS_KELDADES_DATASET_H_

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

// The JSON form of an installation's data and its conversion to and from
// the records of the six data files. Amounts and coefficients are integers
// (amounts in hundredths of a euro), dates "YYYY-MM-DD", texts UTF-8 (CP850
// in the records, cut or blank-padded to their field).
//
//   { "receipt_types": [ {"code": 1..8, "class": n}
//                      | {"number": 0..9999, "class": n} ],
//     "communities": [ {"code", "name", "monthly_fee", "fee_tax_type",
//                       "last_settlement", "tax_id", "special_columns":
//                       [ {"title", "coefficient_total"} ] (columns B..G),
//                       "expense_headings" (absent: no headings record)} ],
//     "units": [ {"code": "C.U", "owner", "designation", "coefficients":
//                 [A..G], "receipt_amounts": [types 1..8], "free_entries":
//                 [ {"type", "amount"} ] } ],
//     "collections": [ {"unit", "date", "amount", "deduction", "type"} ],
//     "payments": [ {"community", "date", "amount", "single_unit",
//                    "code"} ] }
namespace tarnevos::keldades {

using Json = nlohmann::ordered_json;

// The six files in FileLayouts() order.
enum FileIndex : int {
  kThRebutFile = 0,
  kFinquesFile,
  kFinDespFile,
  kPropietFile,
  kPagamFile,
  kCobramFile,
  kFileCount
};

// Records of each file (each as long as its file's record), in key order.
struct RecordSet {
  std::array<std::vector<std::string>, kFileCount> files;
};

// Reads a dataset from JSON text and checks all of it. On any fault
// returns false with a message that names the section, the element's index
// and the field (e.g. "units[3].coefficients[1]: ..."); `records` is then
// left empty. Never throws.
bool ParseDataset(std::string_view json_text, RecordSet& records,
                  std::string& error);
// Reads a dataset file and checks it as ParseDataset does. The error names
// the file: "PATH: cannot be read" or "PATH: " + ParseDataset's message.
bool ReadDatasetFile(const std::string& path, RecordSet& records,
                     std::string& error);
bool RecordsFromDataset(const Json& dataset, RecordSet& records,
                        std::string& error);

// Builds records element by element with exactly the checks of
// RecordsFromDataset, for readers that have one element at a time (the CSV
// import). Elements must come section by section in kSections order, each
// section's in its own order: every section refers to the ones before it.
// `index` is the element's place in its section, used in messages
// ("units[3].coefficients[1]: ..."). Add returns false at the first fault,
// with error() set; the builder is then spent and keeps refusing.
class DatasetBuilder {
 public:
  DatasetBuilder();
  ~DatasetBuilder();
  DatasetBuilder(const DatasetBuilder&) = delete;
  DatasetBuilder& operator=(const DatasetBuilder&) = delete;

  bool Add(std::string_view section, size_t index, const Json& element);
  // The records in key order (the builder is spent afterwards); false when
  // some Add failed.
  bool Finish(RecordSet& records);
  const std::string& error() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Section names in dataset order and the files each is written from.
struct Section {
  const char* name;
  FileIndex file;
};
constexpr std::array<Section, 5> kSections = {{{"receipt_types", kThRebutFile},
                                               {"communities", kFinquesFile},
                                               {"units", kPropietFile},
                                               {"collections", kCobramFile},
                                               {"payments", kPagamFile}}};

// One record back to its dataset element. `headings` is the community's
// FinDespH record, or nullptr when it has none.
Json ReceiptTypeJson(std::string_view record);
Json CommunityJson(std::string_view record, const std::string* headings);
Json UnitJson(std::string_view record);
Json CollectionJson(std::string_view record);
Json PaymentJson(std::string_view record);

// A record of one of kSections' files back to its dataset element; a
// community takes its FinDespH record from `headings` (keyed by KeyOf) when
// it has one.
Json RecordJson(FileIndex file, std::string_view record,
                const std::map<std::string, std::string>& headings);

// A dataset built from records in key order (FinDespH records are folded
// into their communities).
Json DatasetFromRecords(const RecordSet& records);

// Key 0 of a record of the file (the bytes the file orders it by).
std::string KeyOf(FileIndex file, std::string_view record);

// Packed forms the generator shares.
std::string PackedCommunity(int community);            // 2 bytes
std::string PackedUnit(int community, int unit);       // 4 bytes
std::string PackedDate(int year, int month, int day);  // 4 bytes

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_DATASET_H_
