#ifndef TARNEVOS_REPORT_STATEMENT_TEXTS_H_
#define TARNEVOS_REPORT_STATEMENT_TEXTS_H_

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>

// The fixed texts of the owners' statements and of the messages about
// them. Each text is written in Catalan and carries its Spanish, Galician
// and Aranese versions; the language file (LOCALE\TARNEVOS.LNG, keyed by
// the Catalan text as every other text of the program) takes precedence,
// so that an installation can adjust any of them without a new program.
// Texts may hold the placeholders {1}, {2}, ... (see Fill).
namespace tarnevos {

enum class StatementText {
  kDocumentTitle,
  kTitle,
  kIssued,
  kCommunity,
  kPeriod,
  kUpTo,
  kUnit,
  kOwner,
  kDistribution,
  kAmountsIn,
  kColumnHeading,
  kConceptHeading,
  kCommunityExpensesHeading,
  kCoefficientHeading,
  kShareHeading,
  kPrivateExpenses,
  kTotalCharged,
  kAccount,
  kPreviousBalance,
  kPaid,
  kCurrentBalance,
  kInFavourOfCommunity,
  kInFavourOfOwner,
  kSettled,
  kExplanation,
  kHowShares,
  kHowBalance,
  kHowAdjustment,
  kHowRest,
  kNoDifference,
  kFeeBase,
  kFeeVat,
  kFeeWithholding,
  kFeeTotal,
  kSaved,
  kNoneInRange,
  kNotSaved,
  kFontMissing,
  kCount  // not a text
};

// The texts in the session's language, looked up once (the language file
// is read once per text). CP850.
class StatementTexts {
 public:
  // Looks every text up for the session's language.
  void Load();
  const std::string& operator[](StatementText id) const {
    return texts_[static_cast<size_t>(id)];
  }

 private:
  std::array<std::string, static_cast<size_t>(StatementText::kCount)> texts_;
};

// The text with {1}, {2}, ... replaced by the values in order. A
// placeholder without a value, or any other brace, stays as written.
std::string Fill(std::string_view text,
                 std::initializer_list<std::string_view> values);

}  // namespace tarnevos

#endif  // TARNEVOS_REPORT_STATEMENT_TEXTS_H_
