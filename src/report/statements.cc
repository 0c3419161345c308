#include "report/statements.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

#include "console/keyboard.h"
#include "console/messages.h"
#include "console/windows.h"
#include "platform/console/console.h"
#include "platform/system/files.h"
#include "platform/system/paths.h"
#include "platform/system/system.h"
#include "print/pdf_document.h"
#include "report/report_form.h"
#include "report/statement_texts.h"
#include "settings/ini_reader.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "settings/translate.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

using T = StatementText;

constexpr char kColumnLetters[] = "ABCDEFG";
// Wide enough for any amount of the work tables (+-2^61 hundredths).
constexpr char kWideAmount[] = "ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";
constexpr char kCoefficientMask[] = "Z,ZZZ,ZZZ,ZZ9";
constexpr char kRateMask[] = "ZZZ9.ZZ";
constexpr size_t kMaxFontBytes = 16 << 20;
constexpr int16_t kMessageRow = 12;
constexpr int64_t kLastPackedDay = 2932896;  // 9999-12-31, days since 1970

// Page geometry, in points from the bottom-left corner.
constexpr double kLeft = 56.7;
constexpr double kRight = kA4Width - 56.7;
constexpr double kWidth = kRight - kLeft;
constexpr double kTop = 790;
constexpr double kLetterheadLine = 11;
constexpr double kCommunityTop = 694;
constexpr double kUnitBoxTop = 670;
constexpr double kTableTop = 612;
constexpr double kRowPitch = 14;
constexpr double kConceptX = kLeft + 30;
constexpr double kExpensesX = 340;
constexpr double kCoefficientX = 452;
constexpr double kAmountX = kRight - 4;
constexpr double kOperatorX = kLeft + 4;
constexpr double kLabelX = kLeft + 16;
constexpr double kParagraphLine = 11;
constexpr double kFootY = 48;  // the lowest baseline
constexpr double kBodySize = 9;
constexpr double kSmallSize = 8.5;
constexpr double kHeadingSize = 10;
constexpr double kTableShade = 0.88;
constexpr double kBoxShade = 0.94;

std::string AmountText(int64_t amount) { return StatementAmount(amount); }

std::string CoefficientText(int64_t coefficient) {
  return TrimBlanks(
      FormatByMask(kCoefficientMask, static_cast<double>(coefficient)));
}

std::string RateText(float rate) {
  return TrimBlanks(FormatByMask(kRateMask, static_cast<double>(rate)));
}

std::string NumericDate(std::string_view packed_date) {
  return TrimBlanks(FormatDate(packed_date, 0, "dma"));
}

std::string Trimmed(std::string_view text) {
  return TrimBlanks(std::string(text));
}

// A column the community uses: column A always; another when it has a
// title, coefficients or expenses.
bool ColumnUsed(const CommunitySettlement& settlement, int k) {
  return k == 1 || settlement.column_coefficient_total[k] != 0 ||
         settlement.column_expense[k] != 0 ||
         !IsAllChar(settlement.column_title[k], ' ');
}

std::string CommunityTitle(const CommunitySettlement& settlement) {
  return "(" + FormatPackedCode(settlement.code) + ") " +
         Trimmed(ReorderName(settlement.name));
}

std::string UnitTitle(const UnitSettlement& unit) {
  return ZeroPad(unit.number, 3) + " " + Trimmed(unit.designation) + " - " +
         Trimmed(ReorderName(unit.owner));
}

// Greedy line breaking at blanks; a word wider than the line is cut.
std::vector<std::string> WrapText(const PdfFonts& fonts, PdfFace face,
                                  double size, std::string_view text,
                                  double width) {
  std::vector<std::string> lines;
  std::string line;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string_view::npos) end = text.size();
    std::string word(text.substr(at, end - at));
    at = end + 1;
    if (word.empty()) continue;
    std::string candidate = line.empty() ? word : line + " " + word;
    if (fonts.Width(face, size, candidate) <= width) {
      line = std::move(candidate);
      continue;
    }
    if (!line.empty()) lines.push_back(std::move(line));
    line.clear();
    while (fonts.Width(face, size, word) > width && word.size() > 1) {
      size_t fit = word.size() - 1;
      while (fit > 1 && fonts.Width(face, size, word.substr(0, fit)) > width)
        --fit;
      lines.push_back(word.substr(0, fit));
      word.erase(0, fit);
    }
    line = std::move(word);
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

// Days since 1970-01-01 -> packed date (proleptic Gregorian calendar).
std::string PackedDateOfDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 +
                               day_of_era / 36524 - day_of_era / 146096) /
                              365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t mp = (5 * day_of_year + 2) / 153;
  const int64_t day = day_of_year - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  return PackDigits(ZeroPad(static_cast<double>(year), 4) +
                    ZeroPad(static_cast<double>(month), 2) +
                    ZeroPad(static_cast<double>(day), 2));
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\')
    folder += '\\';
  return folder;
}

bool IsAbsolutePath(std::string_view path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  return path.size() >= 2 && path[1] == ':' &&
         std::isalpha(static_cast<unsigned char>(path[0]));
}

// What every page of a run shares.
struct RunContext {
  StatementTexts texts;
  PdfFonts fonts;
  std::string issue_text;  // the date of issue in words
  std::string currency;    // "EUR" or "ESP"
  bool letterhead = true;
  std::array<std::string, 8> administrator;
  // The summary's labels of its remainder line, as it prints them.
  std::string adjustment_label;
  std::string rest_label;
};

// --- The page -----------------------------------------------------------

class StatementLayout {
 public:
  StatementLayout(const RunContext& run, const CommunitySettlement& settlement)
      : run_(run), settlement_(settlement), fixed_(run.fonts) {
    // Every unit of the community has as many lines as columns in use, so
    // every height below is the community's.
    int rows = 0;
    for (int k = 1; k <= 7; ++k) rows += ColumnUsed(settlement, k) ? 1 : 0;
    first_row_y_ = kTableTop - 18 - kRowPitch;
    total_y_ = first_row_y_ - rows * kRowPitch - kRowPitch + 2 - 6;
    account_y_ = total_y_ - 30;
    balance_y_ = account_y_ - 18 - 3 * kRowPitch + 8 - kRowPitch + 2;
    words_y_ = balance_y_ - 28;
    DrawLetterhead();
    DrawCommunity();
    DrawTableHeading();
    DrawExplanation();
    shared_ = CompressPage(fixed_);
  }

  // What every page of the community shows, drawn once.
  const PdfContent& shared() const { return shared_; }

  // The rest of the page of one listed unit of the community.
  PdfContent Draw(const UnitSettlement& unit) const {
    PdfPage page(run_.fonts);
    DrawUnitBox(page, unit);
    DrawDistribution(page, unit);
    DrawAccount(page, unit);
    return CompressPage(page);
  }

 private:
  const std::string& Text(T id) const { return run_.texts[id]; }

  void DrawLetterhead() {
    fixed_.TextRight(PdfFace::kBold, 13, kRight, kTop, Text(T::kTitle));
    fixed_.TextRight(PdfFace::kRegular, kBodySize, kRight, kTop - 15,
                     Fill(Text(T::kIssued), {run_.issue_text}));
    // Paper with a printed letterhead keeps the space free.
    if (!run_.letterhead) return;
    const auto& lines = run_.administrator;
    double y = kTop;
    fixed_.Text(PdfFace::kBold, 11, kLeft, y, lines[1]);
    // The summary's order; lines left empty leave no gap here.
    std::vector<std::string> rest;
    for (int i : {6, 2, 3, 4, 5}) {
      if (!IsAllChar(lines[i], ' ')) rest.push_back(lines[i]);
    }
    rest.push_back("N.I.F. " + lines[7]);
    for (const std::string& line : rest) {
      y -= kLetterheadLine;
      fixed_.Text(PdfFace::kRegular, kSmallSize, kLeft, y, line);
    }
  }

  void DrawCommunity() {
    fixed_.Rule(kLeft, kCommunityTop + 18, kRight, kCommunityTop + 18, 0.8);
    fixed_.Text(
        PdfFace::kBold, 11, kLeft, kCommunityTop,
        Fill(Text(T::kCommunity), {FormatPackedCode(settlement_.code),
                                   Trimmed(ReorderName(settlement_.name))}));
    fixed_.TextRight(PdfFace::kRegular, kBodySize, kRight, kCommunityTop,
                     "N.I.F. " + Trimmed(settlement_.tax_id));
    const std::string cutoff = NumericDate(settlement_.cutoff_date);
    const std::string period =
        IsSettlementDate(settlement_.last_settlement)
            ? Fill(Text(T::kPeriod),
                   {NumericDate(AddToDate(settlement_.last_settlement, 1, "d")),
                    cutoff})
            : Fill(Text(T::kUpTo), {cutoff});
    fixed_.Text(PdfFace::kRegular, kBodySize, kLeft, kCommunityTop - 13,
                period);
  }

  void DrawTableHeading() {
    double y = kTableTop;
    fixed_.Text(PdfFace::kBold, kHeadingSize, kLeft, y, Text(T::kDistribution));
    fixed_.TextRight(PdfFace::kRegular, 8, kRight, y,
                     Fill(Text(T::kAmountsIn), {run_.currency}));
    y -= 18;
    fixed_.Shade(kLeft, y - 4, kWidth, 14, kTableShade);
    fixed_.Text(PdfFace::kBold, 8, kLeft + 4, y, Text(T::kColumnHeading));
    fixed_.Text(PdfFace::kBold, 8, kConceptX, y, Text(T::kConceptHeading));
    fixed_.TextRight(PdfFace::kBold, 8, kExpensesX, y,
                     Text(T::kCommunityExpensesHeading));
    fixed_.TextRight(PdfFace::kBold, 8, kCoefficientX, y,
                     Text(T::kCoefficientHeading));
    fixed_.TextRight(PdfFace::kBold, 8, kAmountX, y, Text(T::kShareHeading));
  }

  // The remainder of the used columns, "A 0,01; C -0,02".
  std::string RemainderList() const {
    std::string list;
    for (int k = 1; k <= 7; ++k) {
      if (!ColumnUsed(settlement_, k) || settlement_.remainder[k] == 0)
        continue;
      if (!list.empty()) list += "; ";
      list += std::string(1, kColumnLetters[k - 1]) + " " +
              AmountText(settlement_.remainder[k]);
    }
    return list.empty() ? Text(T::kNoDifference) : list;
  }

  std::string FeeSentence() const {
    const FeeFigures& fee = settlement_.fee;
    std::string text =
        Fill(Text(T::kFeeBase),
             {std::to_string(fee.units), AmountText(fee.monthly_fee),
              std::to_string(fee.months), AmountText(fee.base)});
    if (fee.vat_rate != 0 || fee.vat != 0) {
      text +=
          Fill(Text(T::kFeeVat), {RateText(fee.vat_rate), AmountText(fee.vat)});
    }
    if (fee.withholding_rate != 0 || fee.withholding != 0) {
      text += Fill(Text(T::kFeeWithholding), {RateText(fee.withholding_rate),
                                              AmountText(-fee.withholding)});
    }
    const int column = fee.column >= 1 && fee.column <= 7 ? fee.column : 1;
    text += Fill(
        Text(T::kFeeTotal),
        {AmountText(fee.total), std::string(1, kColumnLetters[column - 1])});
    return text;
  }

  // The explanation at the foot of the page, the same for every unit of
  // the community.
  void DrawExplanation() {
    std::vector<std::string> paragraphs;
    paragraphs.push_back(Text(T::kHowShares));
    const bool all = settlement_.AllListed();
    paragraphs.push_back(
        Fill(Text(all ? T::kHowAdjustment : T::kHowRest),
             {RemainderList(), all ? run_.adjustment_label : run_.rest_label}));
    if (settlement_.fee.base != 0 || settlement_.fee.total != 0)
      paragraphs.push_back(FeeSentence());
    paragraphs.push_back(Text(T::kHowBalance));

    // Below the balance; a text too long for the room left (an
    // installation's own wording) ends at the foot of the page instead and
    // runs up behind nothing but white space.
    std::vector<std::vector<std::string>> wrapped;
    double height = 0;
    for (const std::string& paragraph : paragraphs) {
      wrapped.push_back(WrapText(run_.fonts, PdfFace::kRegular, kSmallSize,
                                 paragraph, kWidth));
      height += static_cast<double>(wrapped.back().size()) * kParagraphLine + 5;
    }
    double y = std::max(words_y_ - 52, kFootY + height);
    fixed_.Text(PdfFace::kBold, kHeadingSize, kLeft, y + 14,
                Text(T::kExplanation));
    y -= 4;
    for (const auto& lines : wrapped) {
      for (const std::string& line : lines) {
        fixed_.Text(PdfFace::kRegular, kSmallSize, kLeft, y, line);
        y -= kParagraphLine;
      }
      y -= 5;
    }
  }

  void DrawUnitBox(PdfPage& page, const UnitSettlement& unit) const {
    page.Shade(kLeft, kUnitBoxTop - 34, kWidth, 34, kBoxShade);
    page.Text(PdfFace::kBold, 11, kLeft + 6, kUnitBoxTop - 14,
              Fill(Text(T::kUnit),
                   {ZeroPad(unit.number, 3), Trimmed(unit.designation)}));
    page.Text(PdfFace::kRegular, kBodySize + 0.5, kLeft + 6, kUnitBoxTop - 27,
              Fill(Text(T::kOwner), {Trimmed(ReorderName(unit.owner))}));
  }

  // One line per used column, the private expenses and the unit's total.
  void DrawDistribution(PdfPage& page, const UnitSettlement& unit) const {
    double y = first_row_y_;
    for (int k = 1; k <= 7; ++k) {
      if (!ColumnUsed(settlement_, k)) continue;
      page.Text(PdfFace::kBold, kBodySize, kLeft + 8, y,
                std::string(1, kColumnLetters[k - 1]));
      page.Text(PdfFace::kRegular, kBodySize, kConceptX, y,
                TrimRightBlanks(settlement_.column_title[k]));
      page.TextRight(PdfFace::kRegular, kBodySize, kExpensesX, y,
                     AmountText(settlement_.column_expense[k]));
      page.TextRight(
          PdfFace::kRegular, kBodySize, kCoefficientX, y,
          CoefficientText(unit.coefficient[k]) + " / " +
              CoefficientText(settlement_.column_coefficient_total[k]));
      page.TextRight(PdfFace::kRegular, kBodySize, kAmountX, y,
                     AmountText(unit.amount[k]));
      y -= kRowPitch;
    }
    page.Text(PdfFace::kRegular, kBodySize, kConceptX, y,
              Text(T::kPrivateExpenses));
    page.TextRight(PdfFace::kRegular, kBodySize, kAmountX, y,
                   AmountText(unit.amount[8]));
    y -= 6;
    page.Rule(kConceptX, y, kRight, y, 0.5);
    y -= kRowPitch - 2;
    page.Text(PdfFace::kBold, kBodySize, kConceptX, y, Text(T::kTotalCharged));
    page.TextRight(PdfFace::kBold, kBodySize, kAmountX, y,
                   AmountText(unit.expenses));
  }

  void DrawAccount(PdfPage& page, const UnitSettlement& unit) const {
    double y = account_y_;
    page.Text(PdfFace::kBold, kHeadingSize, kLeft, y, Text(T::kAccount));
    y -= 18;
    const struct {
      const char* sign;
      std::string label;
      int64_t amount;
    } rows[] = {
        {"", Text(T::kPreviousBalance), unit.amount[0]},
        {"+", Fill(Text(T::kPaid), {NumericDate(settlement_.cutoff_date)}),
         unit.collected},
        {"-", Text(T::kTotalCharged), unit.expenses},
    };
    for (const auto& row : rows) {
      page.Text(PdfFace::kRegular, kBodySize, kOperatorX, y, row.sign);
      page.Text(PdfFace::kRegular, kBodySize, kLabelX, y, row.label);
      page.TextRight(PdfFace::kRegular, kBodySize, kAmountX, y,
                     AmountText(row.amount));
      y -= kRowPitch;
    }
    y += 8;
    page.Rule(kLabelX, y, kRight, y, 0.5);
    y -= kRowPitch - 2;
    page.Text(PdfFace::kBold, kBodySize, kOperatorX, y, "=");
    page.Text(PdfFace::kBold, kBodySize, kLabelX, y, Text(T::kCurrentBalance));
    page.TextRight(PdfFace::kBold, kBodySize, kAmountX, y,
                   AmountText(unit.balance));

    y -= 28;
    page.Shade(kLeft, y - 7, kWidth, 22, kBoxShade);
    std::string words;
    if (unit.balance < 0) {
      words = Fill(Text(T::kInFavourOfCommunity), {AmountText(-unit.balance)});
    } else if (unit.balance > 0) {
      words = Fill(Text(T::kInFavourOfOwner), {AmountText(unit.balance)});
    } else {
      words = Text(T::kSettled);
    }
    page.Text(PdfFace::kBold, 11, kLeft + 6, y,
              Text(T::kCurrentBalance) + ": " + words);
  }

  const RunContext& run_;
  const CommunitySettlement& settlement_;
  PdfPage fixed_;  // what every unit's page of the community shows
  PdfContent shared_;
  double first_row_y_ = 0;
  double total_y_ = 0;
  double account_y_ = 0;
  double balance_y_ = 0;
  double words_y_ = 0;
};

}  // namespace

// --- The run ------------------------------------------------------------

class StatementsWriter::Job {
 public:
  Job(std::string folder, StatementsOutcome& outcome)
      : folder_(std::move(folder)), outcome_(outcome) {}

  ~Job() { Abandon(); }

  // Everything the first community needs: texts, fonts, the folder and the
  // run's file.
  bool Start(const CommunitySettlement& first) {
    run_.texts.Load();
    std::string font_bytes[2];
    const char* font_paths[2] = {kStatementFont, kStatementBoldFont};
    for (int i = 0; i < 2; ++i) {
      const platform::ReadStatus status =
          platform::ReadWholeFile(font_paths[i], kMaxFontBytes, font_bytes[i]);
      if (status != platform::ReadStatus::kOk)
        return Fail(Fill(run_.texts[T::kFontMissing], {font_paths[i]}));
    }
    std::string font_error;
    if (!run_.fonts.Load(font_bytes[0], font_bytes[1], font_error)) {
      return Fail(Fill(run_.texts[T::kFontMissing],
                       {std::string(kStatementFont) + ": " + font_error}));
    }
    if (!platform::Files().MakeDirectories(folder_))
      return Fail(Fill(run_.texts[T::kNotSaved], {Shown(folder_)}));

    cutoff_ = first.cutoff_date;
    run_.issue_text = FormatDate(StatementIssueDate(cutoff_), 2, "dma");
    run_.currency = CurrentCurrency() == 'P' ? "ESP" : "EUR";
    run_.letterhead = Run().letterhead_mode != "N";
    run_.administrator = Run().administrator_lines;
    run_.adjustment_label = Translate(Cp850("AJUST"));
    run_.rest_label = Translate(Cp850("RESTA COMUNITAT"));

    const ReportParameters& parameters = Parameters();
    const std::string first_code = parameters.range_from.size() >= 2
                                       ? parameters.range_from.substr(0, 2)
                                       : first.code;
    const std::string last_code = parameters.range_to.size() >= 2
                                      ? parameters.range_to.substr(0, 2)
                                      : first.code;
    combined_path_ =
        folder_ + CombinedStatementsName(first_code, last_code, cutoff_);
    combined_file_ =
        platform::OpenFile(combined_path_, platform::OpenMode::kCreate);
    if (combined_file_ == nullptr)
      return Fail(Fill(run_.texts[T::kNotSaved], {Shown(combined_path_)}));
    PdfInfo info;
    info.title = run_.texts[T::kDocumentTitle] + " - " + NumericDate(cutoff_);
    info.creation_date = CreationDate();
    combined_ = std::make_unique<PdfWriter>(
        run_.fonts, info, [this](std::string_view bytes) {
          return combined_file_->Append(bytes);
        });
    return true;
  }

  bool Add(const CommunitySettlement& settlement) {
    std::string bytes;
    PdfInfo info;
    info.title =
        run_.texts[T::kDocumentTitle] + " - " + CommunityTitle(settlement);
    info.creation_date = CreationDate();
    PdfWriter community(run_.fonts, info, [&bytes](std::string_view chunk) {
      bytes.append(chunk);
      return true;
    });
    const StatementLayout layout(run_, settlement);
    const int shared_here = community.AddShared(layout.shared());
    combined_->BeginSection(CommunityTitle(settlement));
    const int shared_in_run = combined_->AddShared(layout.shared());
    for (const UnitSettlement& unit : settlement.units) {
      const PdfContent content = layout.Draw(unit);
      const std::string title = UnitTitle(unit);
      community.AddPage(content, title, shared_here);
      combined_->AddPage(content, title, shared_in_run);
    }
    community.Finish();
    const std::string path =
        folder_ + CommunityStatementsName(settlement.code, cutoff_);
    if (!platform::Files().WriteFileAtomically(path, bytes))
      return Fail(Fill(run_.texts[T::kNotSaved], {Shown(path)}));
    if (combined_->failed())
      return Fail(Fill(run_.texts[T::kNotSaved], {Shown(combined_path_)}));
    ++outcome_.community_files;
    outcome_.statements += static_cast<int>(settlement.units.size());
    return true;
  }

  bool Finish() {
    if (combined_ == nullptr) return true;
    const bool written = combined_->Finish() && combined_file_->Flush();
    combined_.reset();
    combined_file_.reset();
    if (!written) {
      platform::Files().Remove(combined_path_);
      return Fail(Fill(run_.texts[T::kNotSaved], {Shown(combined_path_)}));
    }
    outcome_.combined_file = combined_path_;
    return true;
  }

 private:
  bool Fail(std::string message) {
    outcome_.ok = false;
    outcome_.error = std::move(message);
    Abandon();
    return false;
  }

  // Removes the run's unfinished file.
  void Abandon() {
    if (combined_file_ == nullptr) return;
    combined_.reset();
    combined_file_.reset();
    platform::Files().Remove(combined_path_);
  }

  std::string CreationDate() const {
    return "D:" + UnpackDigits(StatementIssueDate(cutoff_)) + "000000Z";
  }

  static std::string Shown(const std::string& path) {
    return platform::NativePath(path);
  }

  std::string folder_;
  StatementsOutcome& outcome_;
  RunContext run_;
  std::string cutoff_;
  std::string combined_path_;
  std::unique_ptr<platform::File> combined_file_;
  std::unique_ptr<PdfWriter> combined_;
};

StatementsWriter::StatementsWriter(std::string folder)
    : folder_(WithSeparator(std::move(folder))) {
  outcome_.folder = folder_;
}

StatementsWriter::~StatementsWriter() = default;

void StatementsWriter::Add(const CommunitySettlement& settlement) {
  if (!outcome_.ok || settlement.units.empty()) return;
  if (job_ == nullptr) {
    job_ = std::make_unique<Job>(folder_, outcome_);
    if (!job_->Start(settlement)) return;
  }
  job_->Add(settlement);
}

SettlementSink StatementsWriter::Sink() {
  return [this](const CommunitySettlement& settlement) { Add(settlement); };
}

StatementsOutcome StatementsWriter::Finish() {
  if (job_ != nullptr && outcome_.ok) job_->Finish();
  job_.reset();
  return outcome_;
}

// --- Settings, names and messages -----------------------------------------

std::string StatementsFolder() {
  const std::string setting =
      TrimBlanks(ReadSetting(SystemSettingsFile(), "Extractes", "Carpeta"));
  if (setting.empty()) return WithSeparator(Session().tmp_dir + "EXTRACTES");
  if (IsAbsolutePath(setting)) return WithSeparator(setting);
  return WithSeparator(Session().root_dir + setting);
}

StatementsOutcome ProduceReportWithStatements(const std::string& folder) {
  StatementsWriter writer(folder);
  StatementsOutcome outcome;
  ProduceReport(writer.Sink(),
                [&writer, &outcome] { outcome = writer.Finish(); });
  return outcome;
}

std::string StatementsMessage(const StatementsOutcome& outcome) {
  if (!outcome.ok) return outcome.error;
  StatementTexts texts;
  texts.Load();
  if (outcome.statements == 0) return texts[T::kNoneInRange];
  return Fill(texts[T::kSaved], {std::to_string(outcome.statements),
                                 platform::NativePath(outcome.folder)});
}

void TellStatementsOutcome(const StatementsOutcome& outcome) {
  if (MessageBox(kMessageRow, StatementsMessage(outcome))) {
    WaitKey();
    PopWindow();
  } else {
    platform::CurrentConsole().Beep();
  }
}

std::string StatementAmount(int64_t amount) {
  // The sign goes before the digits: a mask's floating minus takes the
  // place of the units' zero ("-,26").
  const std::string digits = TrimBlanks(FormatAmount(
      kWideAmount, static_cast<double>(amount < 0 ? -amount : amount)));
  return amount < 0 ? "-" + digits : digits;
}

std::string StatementIssueDate(std::string_view cutoff_date) {
  const std::string epoch = TrimBlanks(platform::GetEnv("SOURCE_DATE_EPOCH"));
  if (epoch.empty() || epoch.size() > 15) return std::string(cutoff_date);
  int64_t seconds = 0;
  for (char c : epoch) {
    if (c < '0' || c > '9') return std::string(cutoff_date);
    seconds = seconds * 10 + (c - '0');
  }
  // A packed date ends with the year 9999.
  if (seconds / 86400 > kLastPackedDay) return std::string(cutoff_date);
  return PackedDateOfDays(seconds / 86400);
}

std::string CommunityStatementsName(std::string_view community_code,
                                    std::string_view cutoff_date) {
  return UnpackDigits(community_code) + "-" + UnpackDigits(cutoff_date) +
         ".pdf";
}

std::string CombinedStatementsName(std::string_view first_community,
                                   std::string_view last_community,
                                   std::string_view cutoff_date) {
  return "EXTRACTES-" + UnpackDigits(first_community) + "-" +
         UnpackDigits(last_community) + "-" + UnpackDigits(cutoff_date) +
         ".pdf";
}

}  // namespace tarnevos
