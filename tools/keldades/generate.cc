#include "keldades/generate.h"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "keldades/records.h"
#include "util/codepage.h"

namespace tarnevos::keldades {
namespace {

constexpr int kLastYear = 2026;
// Records a source hands over per call.
constexpr size_t kRecordsPerBatch = 20000;

// SplitMix64: small, fast and the same on every platform, so that a seed
// always gives the same installation.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [low, high].
  int64_t Between(int64_t low, int64_t high) {
    return low +
           static_cast<int64_t>(Next() % static_cast<uint64_t>(high - low + 1));
  }
  bool Chance(int percent) { return Between(1, 100) <= percent; }

 private:
  uint64_t state_;
};

// An independent stream for each (seed, community, unit, purpose), so that
// every file can be produced on its own and still agree with the others.
Random StreamFor(uint64_t seed, int community, int unit, int purpose) {
  Random mix(seed ^ (static_cast<uint64_t>(community) << 40) ^
             (static_cast<uint64_t>(unit) << 20) ^
             static_cast<uint64_t>(purpose));
  mix.Next();
  return Random(mix.Next());
}

enum Purpose {
  kCommunityPurpose = 1,
  kUnitPurpose,
  kCollectionPurpose,
  kPaymentPurpose
};

constexpr const char* kStreets[] = {
    "MAJOR",       "SANT JOAN", "DIAGONAL", "DE LA PAU",   "AUSIÀS MARCH",
    "DELS ARBRES", "NOU",       "DEL MAR",  "DE GRÀCIA",   "DE LA FONT",
    "DEL SOL",     "DE LLEIDA", "ROSSELLÓ", "DE LA RIERA", "DEL CARME"};
constexpr const char* kPrefixes[] = {"C/", "AV.", "PL.", "PG.", "RDA."};
constexpr const char* kSurnames[] = {
    "GARCIA",   "PUIG",  "FERRER", "LÓPEZ", "SOLER", "VIDAL",
    "MARTÍNEZ", "ROCA",  "SERRA",  "FONT",  "NÚÑEZ", "CASALS",
    "PONS",     "RIBAS", "SALA",   "COLL",  "MAS",   "BOSCH"};
constexpr const char* kGivenNames[] = {
    "JOAN", "MARIA", "JORDI", "MONTSERRAT", "PERE",  "NÚRIA",  "JOSEP",
    "ANNA", "ÀLEX",  "LAIA",  "FRANCESC",   "MERCÈ", "XAVIER", "ROSA"};
constexpr const char* kColumnTitles[] = {"ESCALA A", "ESCALA B", "ASCENSOR",
                                         "GARATGES", "LOCALS",   "CALEFACCIÓ",
                                         "PISCINA",  "TERRAT"};
constexpr const char* kHeadings[] = {"NETEJA",   "ENLLUMENAT",  "ASSEGURANÇA",
                                     "AIGUA",    "MANTENIMENT", "JARDINERIA",
                                     "ASCENSOR", "REPARACIONS"};

template <typename T, size_t N>
const T& Pick(Random& random, const T (&list)[N]) {
  return list[random.Between(0, N - 1)];
}

// Shares of `total` proportional to `weights` (0 = no share) that add up
// to exactly `total`; the rounding remainder goes to the first sharers.
std::vector<int32_t> Distribute(const std::vector<int64_t>& weights,
                                int64_t total) {
  int64_t sum = 0;
  for (int64_t w : weights) sum += w;
  std::vector<int32_t> shares(weights.size(), 0);
  if (sum == 0) return shares;
  int64_t given = 0;
  for (size_t i = 0; i < weights.size(); ++i) {
    shares[i] = static_cast<int32_t>(weights[i] * total / sum);
    given += shares[i];
  }
  for (size_t i = 0; given < total; i = (i + 1) % weights.size()) {
    if (weights[i] > 0) {
      ++shares[i];
      ++given;
    }
  }
  return shares;
}

struct CommunityPlan {
  int code = 0;
  int specials = 0;  // special columns used (B ...)
  std::array<std::string, 6> titles;
  std::array<int32_t, 6> totals{};
  // coefficients[u - 1][k - 1]: unit u, column k (1 = A).
  std::vector<std::array<int32_t, 7>> coefficients;
  int32_t monthly_budget = 0;  // what the units pay together each month
};

CommunityPlan PlanCommunity(const GenerateOptions& options, int community) {
  Random random = StreamFor(options.seed, community, 0, kCommunityPurpose);
  CommunityPlan plan;
  plan.code = community;
  plan.specials = static_cast<int>(random.Between(0, 6));
  std::vector<int> titles(std::size(kColumnTitles));
  for (size_t i = 0; i < titles.size(); ++i) titles[i] = static_cast<int>(i);
  for (int j = 0; j < plan.specials; ++j) {
    std::swap(titles[j], titles[random.Between(j, titles.size() - 1)]);
    plan.titles[j] = Cp850(kColumnTitles[titles[j]]);
    plan.totals[j] =
        random.Chance(50)
            ? 1000000
            : static_cast<int32_t>(random.Between(10, 100) * 10000);
  }
  const int units = options.units;
  plan.coefficients.assign(units, {});
  std::vector<int64_t> weights(units);
  for (int64_t& w : weights) w = random.Between(50, 150);
  std::vector<int32_t> general = Distribute(weights, 1000000);
  for (int u = 0; u < units; ++u) plan.coefficients[u][0] = general[u];
  for (int j = 0; j < plan.specials; ++j) {
    std::vector<int64_t> share(units, 0);
    for (int u = 0; u < units; ++u) {
      if (random.Chance(60)) share[u] = random.Between(50, 150);
    }
    share[random.Between(0, units - 1)] = random.Between(50, 150);
    std::vector<int32_t> column = Distribute(share, plan.totals[j]);
    for (int u = 0; u < units; ++u) plan.coefficients[u][j + 1] = column[u];
  }
  plan.monthly_budget =
      static_cast<int32_t>(units * random.Between(40, 120) * 100);
  return plan;
}

std::string Ordinal(int n) {
  const char* suffix = n == 1 || n == 3 ? "r"
                       : n == 2         ? "n"
                       : n == 4         ? "t"
                                        : "è";
  return std::to_string(n) + suffix;
}

std::string ReceiptTypeRecord(int key, int number, int type_class) {
  RecordBuilder record(kThRebutFile);
  record.Bytes("code", std::string(1, static_cast<char>(key)));
  record.Int("number", number);
  record.Int("class", type_class);
  return record.Take();
}

std::vector<std::string> ReceiptTypeRecords() {
  std::vector<std::string> records;
  // Type 1 carries the balance brought forward; so do the types numbered
  // 12 and 37.
  for (int code = 1; code <= 8; ++code) {
    records.push_back(ReceiptTypeRecord(code, 0, code == 1 ? 1 : 0));
  }
  const std::pair<int, int> numbered[] = {{12, 1}, {25, 0}, {37, 1}, {40, 0}};
  for (auto [number, type_class] : numbered) {
    records.push_back(ReceiptTypeRecord(128 + number, number, type_class));
  }
  return records;
}

std::string CommunityRecord(const GenerateOptions& options,
                            const CommunityPlan& plan) {
  Random random =
      StreamFor(options.seed, plan.code, 0, kCommunityPurpose + 100);
  RecordBuilder record(kFinquesFile);
  record.Bytes("code", PackedCommunity(plan.code));
  std::string name = Cp850(Pick(random, kStreets)) + " " +
                     std::to_string(random.Between(1, 200)) + "*" +
                     Pick(random, kPrefixes);
  record.Bytes("name", name);
  record.Int("monthly_fee", random.Between(8, 25) * 100);
  record.Int("fee_tax_type", random.Between(0, 1));
  int first_year = kLastYear - options.years + 1;
  std::string settled =
      random.Chance(70)
          ? PackedDate(
                static_cast<int>(random.Between(first_year - 1, kLastYear - 1)),
                12, 31)
          : PackedDate(0, 0, 0);
  record.Bytes("last_settlement", settled);
  char tax_id[24];
  std::snprintf(tax_id, sizeof tax_id, "ES%c%08d",
                random.Chance(80) ? 'H' : 'B',
                static_cast<int>(random.Between(0, 99999999)));
  record.Bytes("tax_id", tax_id);
  for (int k = 1; k <= 6; ++k) {
    record.Bytes(IndexedName("special_title", k), plan.titles[k - 1]);
    record.Int(IndexedName("special_total", k), plan.totals[k - 1]);
  }
  return record.Take();
}

// Most communities list their expense headings; the fee goes to column A
// or, now and then, to one of the special columns.
bool HeadingsRecord(const GenerateOptions& options, const CommunityPlan& plan,
                    std::string& out) {
  Random random =
      StreamFor(options.seed, plan.code, 0, kCommunityPurpose + 200);
  if (!random.Chance(80)) return false;
  std::string text;
  for (int i = 0; i < 4; ++i) text += Cp850(Pick(random, kHeadings)) + ", ";
  char column = static_cast<char>('A' + (plan.specials > 0 && random.Chance(25)
                                             ? random.Between(1, plan.specials)
                                             : 0));
  text += std::string("ADMINISTRACIO HO") + column;
  RecordBuilder record(kFinDespFile);
  record.Bytes("code", PackedCommunity(plan.code));
  record.Bytes("headings", text);
  out = record.Take();
  return true;
}

std::string UnitRecord(const GenerateOptions& options,
                       const CommunityPlan& plan, int unit) {
  Random random = StreamFor(options.seed, plan.code, unit, kUnitPurpose);
  RecordBuilder record(kPropietFile);
  record.Bytes("code", PackedUnit(plan.code, unit));
  std::string owner = Cp850(Pick(random, kSurnames)) + " " +
                      Cp850(Pick(random, kSurnames)) + "*" +
                      Cp850(Pick(random, kGivenNames));
  record.Bytes("owner", owner);
  record.Bytes("designation", Cp850(Ordinal((unit - 1) / 4 + 1) + " " +
                                    std::to_string((unit - 1) % 4 + 1) + "a"));
  for (int k = 1; k <= 7; ++k) {
    record.Int(IndexedName("coefficient", k),
               plan.coefficients[unit - 1][k - 1]);
  }
  // Type 1: the balance brought forward (what the unit owed, negative, or
  // had paid in advance); the other types hold the unit's usual receipts.
  for (int q = 1; q <= 8; ++q) {
    int64_t amount = 0;
    if (q == 1) {
      amount = random.Chance(40) ? random.Between(-30000, 20000) : 0;
    } else if (random.Chance(30)) {
      amount = random.Between(1, 200) * 100;
    }
    record.Int(IndexedName("receipt_amount", q), amount);
  }
  int entries = random.Chance(30) ? (random.Chance(30) ? 2 : 1) : 0;
  const int free_types[] = {12, 25, 37, 40};
  for (int e = 1; e <= 2; ++e) {
    bool used = e <= entries;
    record.Int(IndexedName("free_type", e),
               used ? free_types[random.Between(0, 3)] : 0);
    record.Int(IndexedName("free_amount", e),
               used ? random.Between(-10000, 10000) : 0);
  }
  return record.Take();
}

// One collection a month for every unit.
void AppendCollections(const GenerateOptions& options,
                       const CommunityPlan& plan, int unit,
                       std::string& batch) {
  Random random = StreamFor(options.seed, plan.code, unit, kCollectionPurpose);
  const int64_t quota = static_cast<int64_t>(plan.monthly_budget) *
                        plan.coefficients[unit - 1][0] / 1000000;
  const std::string code = PackedUnit(plan.code, unit);
  for (int year = kLastYear - options.years + 1; year <= kLastYear; ++year) {
    for (int month = 1; month <= 12; ++month) {
      RecordBuilder record(kCobramFile);
      record.Bytes("unit", code);
      record.Bytes("date", PackedDate(year, month, 5));
      int64_t amount = quota + random.Between(-quota / 10, quota / 10);
      record.Int("amount", amount);
      record.Int("deduction", random.Chance(5) ? random.Between(1, 500) : 0);
      int kind = static_cast<int>(random.Between(1, 100));
      record.Bytes("type", kind <= 90 ? "C" : kind <= 95 ? "I" : "R");
      batch += record.Take();
    }
  }
}

// Each month: a general expense, one of a special column when the
// community has them, and now and then a private expense of one unit.
void AppendPayments(const GenerateOptions& options, const CommunityPlan& plan,
                    std::string& batch) {
  Random random = StreamFor(options.seed, plan.code, 0, kPaymentPurpose);
  const std::string community = PackedCommunity(plan.code);
  auto payment = [&](const std::string& date, int64_t amount, bool single,
                     int code) {
    RecordBuilder record(kPagamFile);
    record.Bytes("community", community);
    record.Bytes("date", date);
    record.Int("amount", amount);
    record.Bytes("single_unit", single ? "S" : " ");
    record.Bytes("code", PackedCommunity(code));
    batch += record.Take();
  };
  for (int year = kLastYear - options.years + 1; year <= kLastYear; ++year) {
    for (int month = 1; month <= 12; ++month) {
      payment(PackedDate(year, month, 10),
              plan.monthly_budget * random.Between(50, 90) / 100, false, 1);
      if (plan.specials > 0) {
        payment(PackedDate(year, month, 15), random.Between(50, 800) * 100,
                false, static_cast<int>(random.Between(2, plan.specials + 1)));
      }
      if (random.Chance(30)) {
        payment(PackedDate(year, month, 20), random.Between(10, 300) * 100,
                true, static_cast<int>(random.Between(1, options.units)));
      }
    }
  }
}

// Walks communities (and units) in key order, a batch at a time.
class Walker {
 public:
  explicit Walker(const GenerateOptions& options) : options_(options) {}
  // Calls `each` for communities from where it stopped until the batch is
  // full; false once every community has been given.
  bool Fill(std::string& batch, size_t record_length,
            const std::function<void(const CommunityPlan&)>& each) {
    while (next_ <= options_.communities &&
           batch.size() < kRecordsPerBatch * record_length) {
      each(PlanCommunity(options_, next_++));
    }
    return next_ <= options_.communities;
  }

 private:
  GenerateOptions options_;
  int next_ = 1;
};

std::array<RecordSource, kFileCount> Sources(const GenerateOptions& options) {
  std::array<RecordSource, kFileCount> sources;
  sources[kThRebutFile] = [](std::string& batch, std::string&) {
    for (const std::string& record : ReceiptTypeRecords()) batch += record;
    return false;
  };
  auto walker =
      [&options](FileIndex file,
                 std::function<void(const CommunityPlan&, std::string&)> add) {
        auto state = std::make_shared<Walker>(options);
        size_t length = LayoutOf(file).record_length;
        return [state, length, add](std::string& batch, std::string&) {
          return state->Fill(batch, length, [&](const CommunityPlan& plan) {
            add(plan, batch);
          });
        };
      };
  sources[kFinquesFile] = walker(
      kFinquesFile, [options](const CommunityPlan& plan, std::string& batch) {
        batch += CommunityRecord(options, plan);
      });
  sources[kFinDespFile] = walker(
      kFinDespFile, [options](const CommunityPlan& plan, std::string& batch) {
        std::string record;
        if (HeadingsRecord(options, plan, record)) batch += record;
      });
  sources[kPropietFile] = walker(
      kPropietFile, [options](const CommunityPlan& plan, std::string& batch) {
        for (int u = 1; u <= options.units; ++u) {
          batch += UnitRecord(options, plan, u);
        }
      });
  sources[kPagamFile] = walker(
      kPagamFile, [options](const CommunityPlan& plan, std::string& batch) {
        AppendPayments(options, plan, batch);
      });
  sources[kCobramFile] = walker(
      kCobramFile, [options](const CommunityPlan& plan, std::string& batch) {
        for (int u = 1; u <= options.units; ++u) {
          AppendCollections(options, plan, u, batch);
        }
      });
  return sources;
}

}  // namespace

bool CheckGenerateOptions(const GenerateOptions& options, std::string& error) {
  struct Range {
    const char* name;
    int value, low, high;
  } ranges[] = {{"--communities", options.communities, 1, 9999},
                {"--units", options.units, 1, 999},
                {"--years", options.years, 1, 50}};
  for (const Range& range : ranges) {
    if (range.value < range.low || range.value > range.high) {
      error = std::string(range.name) + " must be from " +
              std::to_string(range.low) + " to " + std::to_string(range.high);
      return false;
    }
  }
  return true;
}

bool Generate(const std::string& root, const GenerateOptions& options,
              WriteCounts& counts, std::string& error) {
  if (!CheckGenerateOptions(options, error)) return false;
  auto sources = Sources(options);
  return WriteInstallation(root, sources, counts, error);
}

RecordSet GenerateRecords(const GenerateOptions& options) {
  RecordSet records;
  std::string error;
  if (!CheckGenerateOptions(options, error)) return records;
  auto sources = Sources(options);
  for (int file = 0; file < kFileCount; ++file) {
    size_t length = LayoutOf(static_cast<FileIndex>(file)).record_length;
    std::string batch;
    bool more = true;
    while (more) {
      batch.clear();
      more = sources[file](batch, error);
      for (size_t at = 0; at + length <= batch.size(); at += length) {
        records.files[file].push_back(batch.substr(at, length));
      }
    }
  }
  return records;
}

}  // namespace tarnevos::keldades
