#include "keldades/check.h"

#include <array>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <set>
#include <unordered_set>

#include "data/access_layer.h"
#include "data/data_files.h"
#include "keldades/dataset.h"
#include "keldades/records.h"
#include "keldades/store.h"
#include "platform/system/system.h"
#include "report/layout.h"
#include "report/report_form.h"
#include "report/settlement.h"
#include "report/settlement_table.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/codepage.h"
#include "util/csv_text.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos::keldades {
namespace {

// Records shown per finding; the rest are counted.
constexpr size_t kShownRecords = 20;
constexpr int64_t kGeneralTotal = 1000000;
constexpr char kColumnLetters[] = "ABCDEFG";
// How a fatal stop of the report's computation ends the tool.
constexpr int kUnreadableExit = 2;

int CodeNumber(std::string_view packed) {
  int value = 0;
  for (char c : UnpackDigits(packed)) value = value * 10 + (c - '0');
  return value;
}

std::string DateText(const std::string& packed) {
  return FormatDate(packed, -1, "dma");
}

std::string Euros(int64_t hundredths) { return DecimalHundredths(hundredths); }

std::string Thousands(int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<size_t>(at), ",");
  }
  return (value < 0 ? "-" : "") + digits;
}

// The records of a finding: the first kShownRecords, then how many more.
class Listing {
 public:
  void Add(std::string line) {
    if (lines_.size() < kShownRecords) {
      lines_.push_back(std::move(line));
    } else {
      ++more_;
    }
  }
  bool empty() const { return lines_.empty(); }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines = lines_;
    if (more_ > 0) lines.push_back("and " + std::to_string(more_) + " more");
    return lines;
  }

 private:
  std::vector<std::string> lines_;
  size_t more_ = 0;
};

struct UnitInfo {
  std::string code;  // packed
  std::array<int64_t, 8> coefficient{};
};

struct CommunityInfo {
  std::string last_settlement;
  int64_t monthly_fee = 0;
  std::array<int64_t, 8> total{};
  std::vector<UnitInfo> units;
};

// Collections of one unit that is not among the units.
struct StrayCollections {
  size_t count = 0;
  int64_t amount = 0;
  std::string first, last;  // packed dates
};

struct Installation {
  std::map<int, CommunityInfo> communities;
  std::unordered_set<std::string> unit_codes;
  std::set<std::pair<int, int>> unit_numbers;  // (community, number % 1000)
};

CheckFinding Finding(std::string what, const Listing& records) {
  return {std::move(what), records.Lines()};
}

CommunityFindings& Entry(CheckReport& report, int community) {
  return report.communities[community];
}

// --- The data files ------------------------------------------------------

bool ReadCommunities(const std::string& root, Installation& installation,
                     CheckReport& report, std::string& error) {
  return ReadRecords(
      root, kFinquesFile,
      [&](std::string_view bytes) {
        RecordReader record(kFinquesFile, bytes);
        const int code = CodeNumber(record.Bytes("code"));
        CommunityInfo& info = installation.communities[code];
        info.last_settlement = record.Bytes("last_settlement");
        info.monthly_fee = record.Int("monthly_fee");
        info.total[1] = kGeneralTotal;
        for (int k = 2; k <= 7; ++k) {
          info.total[k] = record.Int(IndexedName("special_total", k - 1));
        }
        CommunityFindings& entry = Entry(report, code);
        entry.listed = true;
        entry.name =
            Utf8FromCp850(TrimRightBlanks(ReorderName(record.Bytes("name"))));
      },
      error);
}

bool ReadUnits(const std::string& root, Installation& installation,
               CheckReport& report, std::string& error) {
  std::map<int, Listing> strays;
  const bool read = ReadRecords(
      root, kPropietFile,
      [&](std::string_view bytes) {
        RecordReader record(kPropietFile, bytes);
        UnitInfo unit;
        unit.code = record.Bytes("code");
        const int community = CodeNumber(unit.code.substr(0, 2));
        installation.unit_codes.insert(unit.code);
        installation.unit_numbers.insert({community, UnitNumber(unit.code)});
        auto it = installation.communities.find(community);
        if (it == installation.communities.end()) {
          strays[community].Add(
              "unit " + UnitCodeText(unit.code) + " " +
              Utf8FromCp850(TrimRightBlanks(record.Bytes("owner"))));
          return;
        }
        for (int k = 1; k <= 7; ++k) {
          unit.coefficient[k] = record.Int(IndexedName("coefficient", k));
        }
        it->second.units.push_back(std::move(unit));
      },
      error);
  for (const auto& [community, listing] : strays) {
    Entry(report, community)
        .findings.push_back(Finding(
            "units of a community that is not among the communities: the "
            "report never lists them",
            listing));
  }
  return read;
}

bool ReadCollections(const std::string& root, const Installation& installation,
                     CheckReport& report, std::string& error) {
  std::map<std::string, StrayCollections> strays;  // by packed unit code
  const bool read = ReadRecords(
      root, kCobramFile,
      [&](std::string_view bytes) {
        RecordReader record(kCobramFile, bytes);
        const std::string unit = record.Bytes("unit");
        if (installation.unit_codes.count(unit) != 0) return;
        StrayCollections& stray = strays[unit];
        const std::string date = record.Bytes("date");
        if (stray.count == 0) stray.first = date;
        stray.last = date;
        ++stray.count;
        stray.amount += record.Int("amount") - record.Int("deduction");
      },
      error);
  std::map<int, Listing> by_community;
  for (const auto& [unit, stray] : strays) {
    by_community[CodeNumber(unit.substr(0, 2))].Add(
        "unit " + UnitCodeText(unit) + ": " + std::to_string(stray.count) +
        " collections from " + DateText(stray.first) + " to " +
        DateText(stray.last) + ", " + Euros(stray.amount) + " in all");
  }
  for (const auto& [community, listing] : by_community) {
    Entry(report, community)
        .findings.push_back(Finding(
            "collections of units that are not among the units: they count "
            "nowhere",
            listing));
  }
  return read;
}

bool ReadPayments(const std::string& root, const Installation& installation,
                  CheckReport& report, std::string& error) {
  std::map<int, Listing> no_community, no_unit, no_column;
  const bool read = ReadRecords(
      root, kPagamFile,
      [&](std::string_view bytes) {
        RecordReader record(kPagamFile, bytes);
        const int community = CodeNumber(record.Bytes("community"));
        const int code = CodeNumber(record.Bytes("code"));
        const bool single = record.Bytes("single_unit") == "S";
        const std::string line =
            "payment of " + DateText(record.Bytes("date")) + ", " +
            Euros(record.Int("amount")) + ", " +
            (single ? "unit number " : "column code ") + std::to_string(code);
        if (installation.communities.count(community) == 0) {
          no_community[community].Add(line);
        } else if (single &&
                   (code >= kUnitNumbers ||
                    installation.unit_numbers.count({community, code}) == 0)) {
          no_unit[community].Add(line);
        } else if (!single && code > 8) {
          no_column[community].Add(line);
        }
      },
      error);
  for (const auto& [community, listing] : no_community) {
    Entry(report, community)
        .findings.push_back(Finding(
            "payments of a community that is not among the communities: "
            "they count nowhere",
            listing));
  }
  for (const auto& [community, listing] : no_unit) {
    Entry(report, community)
        .findings.push_back(
            Finding("payments charged to a unit number that is no unit of the "
                    "community: they show only in the remainder line",
                    listing));
  }
  for (const auto& [community, listing] : no_column) {
    Entry(report, community)
        .findings.push_back(Finding(
            "payments with a column code outside 0-8: they count in the "
            "community's expenses only, not in any column",
            listing));
  }
  return read;
}

// --- Checks of one community ----------------------------------------------

void CheckFee(const CommunityInfo& info, CommunityFindings& entry) {
  if (info.monthly_fee == 0 || IsSettlementDate(info.last_settlement)) return;
  Listing records;
  records.Add("monthly fee " + Euros(info.monthly_fee) +
              ", last settlement: none");
  entry.findings.push_back(Finding(
      "charged a monthly fee but never settled: the report charges no fee "
      "until a last-settlement date is set",
      records));
}

void CheckCoefficients(const CommunityInfo& info, CommunityFindings& entry) {
  if (info.units.empty()) return;
  for (int k = 1; k <= 7; ++k) {
    int64_t sum = 0;
    Listing records;
    for (const UnitInfo& unit : info.units) {
      sum += unit.coefficient[k];
      if (unit.coefficient[k] != 0) {
        records.Add("unit " + UnitCodeText(unit.code) + ": " +
                    Thousands(unit.coefficient[k]));
      }
    }
    if (sum == info.total[k]) continue;
    std::string what = std::string("column ") + kColumnLetters[k - 1] +
                       ": the units' coefficients add up to " + Thousands(sum) +
                       ", not to the column's total " +
                       Thousands(info.total[k]);
    if (info.total[k] == 0) {
      what += " (a column without a total shares nothing out)";
    }
    entry.findings.push_back(Finding(what, records));
  }
}

void CheckRepeatedNumbers(const CommunityInfo& info, CommunityFindings& entry) {
  std::map<int, std::vector<const UnitInfo*>> by_number;
  for (const UnitInfo& unit : info.units) {
    by_number[UnitNumber(unit.code)].push_back(&unit);
  }
  for (const auto& [number, units] : by_number) {
    if (units.size() < 2) continue;
    Listing records;
    for (const UnitInfo* unit : units) {
      records.Add("unit " + UnitCodeText(unit->code));
    }
    entry.findings.push_back(Finding(
        "units whose numbers end in the same three digits (" +
            ZeroPad(number, 3) +
            "): private expenses and collections go to the first one only",
        records));
  }
}

// --- The report's own figures --------------------------------------------

const char* FigureName(int figure) {
  static const char* const kNames[] = {
      "previous balance", "column A", "column B",  "column C",
      "column D",         "column E", "column F",  "column G",
      "private expenses", "expenses", "collected", "balance"};
  return figure >= 0 && figure < 12 ? kNames[figure] : "figure";
}

[[noreturn]] void StopUnreadable(const std::string& message) {
  std::cerr << "keldades: " << Utf8FromCp850(message) << std::endl;
  std::exit(kUnreadableExit);
}

// The report's session over the installation for the life of the object:
// KELROOT names it while the session is loaded, the data files are open.
class ReportSession {
 public:
  explicit ReportSession(const std::string& root) {
    const char* old = std::getenv("KELROOT");
    if (old != nullptr) saved_ = old;
    ::setenv("KELROOT", root.c_str(), 1);
    LoadSessionEnvironment();
    LoadAdministratorLines();
    MutableRun().program_id = "TARNEVOS";
    LoadFeeSettings();
    SetUnattendedStop(&StopUnreadable);
    ResetWorkTables();
    OpenAllDataFiles();
  }
  ~ReportSession() {
    int16_t status = 0;
    CloseAllDataFiles(status);
    SetUnattendedStop(nullptr);
    if (saved_) {
      ::setenv("KELROOT", saved_->c_str(), 1);
    } else {
      ::unsetenv("KELROOT");
    }
  }
  ReportSession(const ReportSession&) = delete;
  ReportSession& operator=(const ReportSession&) = delete;

 private:
  std::optional<std::string> saved_;
};

void CheckFigures(const std::string& root, const std::string& cutoff,
                  CheckReport& report) {
  ReportSession session(root);
  ReportParameters& parameters = Parameters();
  parameters.cutoff_date = cutoff;
  parameters.range_from = PackDottedCode("0.0");
  parameters.range_to = PackDottedCode("9999.9999");
  parameters.copies = 1;
  SettleCommunities([&](const CommunitySettlement& settlement) {
    Listing records;
    for (const OverfullFigure& figure : OverfullFigures(settlement)) {
      std::string line;
      switch (figure.line) {
        case OverfullFigure::Line::kUnit:
          line = "unit " + UnitCodeText(figure.unit->code);
          break;
        case OverfullFigure::Line::kRemainder:
          line = "remainder line";
          break;
        case OverfullFigure::Line::kTotal:
          line = "total line";
          break;
      }
      line += std::string(", ") + FigureName(figure.figure) + " " +
              Euros(figure.amount) + " EUR prints as \"" +
              Utf8FromCp850(figure.text) + "\"" +
              (figure.currency == 'P' ? " in pesetas" : "");
      records.Add(line);
    }
    if (records.empty()) return;
    Entry(report, CodeNumber(settlement.code))
        .findings.push_back(Finding(
            "figures that fill their 10-character slot at " + DateText(cutoff) +
                " and run into the figure before them",
            records));
  });
}

}  // namespace

size_t CheckReport::Count() const {
  size_t count = 0;
  for (const auto& [code, entry] : communities) count += entry.findings.size();
  return count;
}

std::string TodayPacked() {
  const platform::CalendarDay today = platform::LocalToday();
  return PackDigits(ZeroPad(today.year, 4) + ZeroPad(today.month, 2) +
                    ZeroPad(today.day, 2));
}

bool CheckInstallation(const std::string& root, const std::string& cutoff,
                       CheckReport& report, std::string& error) {
  report = CheckReport{};
  // The report opens (and would create) all six files: each must be there.
  for (int file = 0; file < kFileCount; ++file) {
    const auto index = static_cast<FileIndex>(file);
    if (!DataFileExists(root, index)) {
      error = DataFilePath(root, index) + ": missing";
      return false;
    }
  }
  Installation installation;
  if (!ReadCommunities(root, installation, report, error) ||
      !ReadUnits(root, installation, report, error) ||
      !ReadCollections(root, installation, report, error) ||
      !ReadPayments(root, installation, report, error)) {
    return false;
  }
  // FinDespH is read by the report only; it must open too.
  if (!ReadRecords(
          root, kFinDespFile, [](std::string_view) {}, error)) {
    return false;
  }
  for (const auto& [code, info] : installation.communities) {
    CommunityFindings& entry = Entry(report, code);
    CheckFee(info, entry);
    CheckCoefficients(info, entry);
    CheckRepeatedNumbers(info, entry);
  }
  CheckFigures(root, cutoff, report);
  // Communities without findings are left out of the report.
  for (auto it = report.communities.begin(); it != report.communities.end();) {
    it = it->second.findings.empty() ? report.communities.erase(it)
                                     : std::next(it);
  }
  return true;
}

void PrintCheckReport(const CheckReport& report, const std::string& prefix,
                      std::ostream& out) {
  for (const auto& [code, entry] : report.communities) {
    out << prefix << "community " << code;
    if (entry.listed) {
      out << " " << entry.name;
    } else {
      out << " (not among the communities)";
    }
    out << ":\n";
    for (const CheckFinding& finding : entry.findings) {
      out << prefix << "  " << finding.what << "\n";
      for (const std::string& record : finding.records) {
        out << prefix << "    " << record << "\n";
      }
    }
  }
}

}  // namespace tarnevos::keldades
