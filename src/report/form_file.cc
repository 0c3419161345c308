#include "report/form_file.h"

#include <array>
#include <cstdint>
#include <utility>

#include "console/form_table.h"
#include "platform/system/files.h"
#include "platform/system/paths.h"
#include "report/report_form.h"
#include "settings/csv_reader.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "settings/translate.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/text.h"

namespace tarnevos {
namespace {

enum class Problem {
  kMissing,
  kTooLarge,
  kNoHeader,
  kNotNumber,
  kEndsInsideRecord,
  kFormCount,
  kMaxFields,
  kFieldCount,
  kValueRange,
  kLookupCount,
  kExtraRecords,
  kMissingForms,
  kMissingLookups,
};

// Messages in Catalan, Spanish, Galician and Aranese.
struct Phrase {
  std::string_view cat, spa, glg, oci;
};

constexpr Phrase kCannotRead = {"NO ES POT LLEGIR EL FITXER DE FORMULARIS",
                                "NO SE PUEDE LEER EL FICHERO DE FORMULARIOS",
                                "NON SE PODE LER O FICHEIRO DE FORMULARIOS",
                                "NON SE POT LÉGER ETH FICHÈR DE FORMULARIS"};
constexpr Phrase kMalformed = {
    "FITXER DE FORMULARIS INCORRECTE", "FICHERO DE FORMULARIOS INCORRECTO",
    "FICHEIRO DE FORMULARIOS INCORRECTO", "FICHÈR DE FORMULARIS INCORRÈCTE"};
constexpr Phrase kLine = {"LÍNIA", "LÍNEA", "LIÑA", "LINHA"};

constexpr std::pair<Problem, Phrase> kReasons[] = {
    {Problem::kTooLarge,
     {"ÉS MASSA GRAN", "ES DEMASIADO GRANDE", "É DEMASIADO GRANDE",
      "EI MASSA GRAN"}},
    {Problem::kNoHeader,
     {"NO TÉ CAPÇALERA", "NO TIENE CABECERA", "NON TEN CABECEIRA",
      "NON A CAPÇALERA"}},
    {Problem::kNotNumber,
     {"HI HA UN TEXT ON CAL UN NOMBRE", "HAY UN TEXTO DONDE DEBE IR UN NÚMERO",
      "HAI UN TEXTO ONDE DEBE IR UN NÚMERO", "I A UN TÈXTE ON CAL UN NOMBRE"}},
    {Problem::kEndsInsideRecord,
     {"ACABA A MITJAN D'UN REGISTRE", "TERMINA A MEDIO REGISTRO",
      "REMATA A MEDIO REXISTRO", "ACABE ENTÀ MIEI D'UN REGISTRE"}},
    {Problem::kFormCount,
     {"NOMBRE DE FORMULARIS NO VÀLID", "NÚMERO DE FORMULARIOS NO VÁLIDO",
      "NÚMERO DE FORMULARIOS NON VÁLIDO", "NOMBRE DE FORMULARIS NON VALID"}},
    {Problem::kMaxFields,
     {"NOMBRE MÀXIM DE CAMPS NO VÀLID", "NÚMERO MÁXIMO DE CAMPOS NO VÁLIDO",
      "NÚMERO MÁXIMO DE CAMPOS NON VÁLIDO", "NOMBRE MAXIM DE CAMPS NON VALID"}},
    {Problem::kFieldCount,
     {"NOMBRE DE CAMPS NO VÀLID", "NÚMERO DE CAMPOS NO VÁLIDO",
      "NÚMERO DE CAMPOS NON VÁLIDO", "NOMBRE DE CAMPS NON VALID"}},
    {Problem::kValueRange,
     {"VALOR FORA DE LÍMITS", "VALOR FUERA DE LÍMITES", "VALOR FÓRA DE LÍMITES",
      "VALOR FÒRA DE LIMITS"}},
    {Problem::kLookupCount,
     {"NOMBRE DE CONSULTES NO VÀLID", "NÚMERO DE CONSULTAS NO VÁLIDO",
      "NÚMERO DE CONSULTAS NON VÁLIDO", "NOMBRE DE CONSULTES NON VALID"}},
    {Problem::kExtraRecords,
     {"REGISTRES SOBRANTS DARRERE DE 0 CONSULTES",
      "REGISTROS SOBRANTES TRAS 0 CONSULTAS",
      "REXISTROS SOBRANTES TRAS 0 CONSULTAS",
      "REGISTRES DE MÉS DARRÈR 0 CONSULTES"}},
    {Problem::kMissingForms,
     {"HI FALTEN FORMULARIS DE LA CAPÇALERA",
      "FALTAN FORMULARIOS DE LA CABECERA", "FALTAN FORMULARIOS DA CABECEIRA",
      "I MANQUEN FORMULARIS DERA CAPÇALERA"}},
    {Problem::kMissingLookups,
     {"HI FALTEN CONSULTES", "FALTAN CONSULTAS", "FALTAN CONSULTAS",
      "I MANQUEN CONSULTES"}},
};

std::string InLanguage(const Phrase& phrase) {
  switch (SessionLanguage()) {
    case Language::kSpanish:
      return Cp850(phrase.spa);
    case Language::kGalician:
      return Cp850(phrase.glg);
    case Language::kAranese:
      return Cp850(phrase.oci);
    case Language::kCatalan:
      break;
  }
  return Cp850(phrase.cat);
}

std::string ReasonText(Problem problem) {
  for (const auto& [known, phrase] : kReasons) {
    if (known == problem) return InLanguage(phrase);
  }
  return "";
}

// The file as the operator finds it on disk.
std::string ShownName(std::string_view file_name) {
  std::string native = platform::NativePath(file_name);
  return native.empty() ? std::string(file_name) : native;
}

std::string MalformedMessage(std::string_view file_name, int line,
                             Problem problem) {
  return InLanguage(kMalformed) + ": " + ShownName(file_name) + ", " +
         InLanguage(kLine) + " " + std::to_string(line) + ": " +
         ReasonText(problem);
}

// Reads the records of a form file into a FormTables. Stops at the first
// problem and remembers it with the line where it showed.
class FormFileParser {
 public:
  explicit FormFileParser(std::string contents)
      : reader_(std::move(contents)) {}
  FormFileParser(const FormFileParser&) = delete;
  FormFileParser& operator=(const FormFileParser&) = delete;

  bool Parse(FormTables& tables) {
    if (!StartRecord()) return Fail(Problem::kNoHeader);
    if (!ReadHeader(tables)) return false;
    // Every form the header announces must be there: a form that was never
    // read has no keys and no fields, and the screen could not show it.
    for (int f = 1; f <= tables.form_count; ++f) {
      if (!StartRecord()) return FailAtEnd(Problem::kMissingForms);
      if (!ReadForm(tables, f)) return false;
    }
    // A file without a lookup section has no lookups.
    if (!StartRecord()) return true;
    if (!ReadNumber(tables.lookup_count, 0, kMaxLookupCount,
                    Problem::kLookupCount)) {
      return false;
    }
    tables.lookup_attr.assign(tables.lookup_count + 1, {});
    tables.lookup_text.assign(tables.lookup_count + 1, "");
    if (tables.lookup_count == 0) return NothingMoreFollows();
    for (int k = 1; k <= tables.lookup_count; ++k) {
      if (!StartRecord()) return FailAtEnd(Problem::kMissingLookups);
      if (!ReadLookup(tables, k)) return false;
    }
    return true;
  }

  Problem problem() const { return problem_; }
  int line() const { return line_; }

 private:
  // A record cut short is reported at the line where it started; any other
  // problem at the line of the value that shows it.
  bool Fail(Problem problem) {
    problem_ = problem;
    if (problem == Problem::kEndsInsideRecord && record_line_ > 0) {
      line_ = record_line_;
    } else {
      line_ = value_line_ > 0 ? value_line_ : reader_.line();
    }
    return false;
  }

  // A file that ends where a record is due: reported at the line where
  // the record should start.
  bool FailAtEnd(Problem problem) {
    problem_ = problem;
    line_ = reader_.line();
    return false;
  }

  // Skips the comment lines before a record; false at the end of the file.
  bool StartRecord() {
    if (!reader_.SkipCommentLines()) return false;
    record_line_ = reader_.line();
    return true;
  }

  bool ReadText(std::string& text) {
    value_line_ = reader_.line();
    if (!reader_.ReadField(text)) return Fail(Problem::kEndsInsideRecord);
    return true;
  }

  // A number within [low, high]; outside it the record is refused with
  // `out_of_range`.
  bool ReadNumber(int16_t& value, int low, int high,
                  Problem out_of_range = Problem::kValueRange) {
    value_line_ = reader_.line();
    bool valid = false;
    if (!reader_.ReadInteger(value, &valid)) {
      return Fail(Problem::kEndsInsideRecord);
    }
    if (!valid) return Fail(Problem::kNotNumber);
    if (value < low || value > high) return Fail(out_of_range);
    return true;
  }

  bool ReadAnyNumber(int16_t& value) {
    return ReadNumber(value, INT16_MIN, INT16_MAX);
  }

  bool ReadHeader(FormTables& tables) {
    if (!ReadNumber(tables.form_count, 1, kMaxFormCount, Problem::kFormCount) ||
        !ReadNumber(tables.max_fields, 0, kMaxFieldsPerForm,
                    Problem::kMaxFields)) {
      return false;
    }
    tables.forms.assign(tables.form_count + 1, FormDef{});
    for (FormDef& form : tables.forms) {
      form.fields.assign(tables.max_fields + 1, FieldDef{});
    }
    return true;
  }

  // A form record and, without comment lines between them, its fields.
  bool ReadForm(FormTables& tables, int f) {
    FormDef& form = tables.forms[f];
    if (!ReadText(form.key_list) ||
        !ReadNumber(form.field_count, 0, tables.max_fields,
                    Problem::kFieldCount) ||
        !ReadNumber(form.next_form, 0, tables.form_count)) {
      return false;
    }
    for (int i = 1; i <= 4; ++i) {
      if (!ReadNumber(form.window[i], 0, kMaxScreenValue)) return false;
    }
    for (int j = 1; j <= form.field_count; ++j) {
      if (!ReadField(form.fields[j])) return false;
    }
    return true;
  }

  bool ReadField(FieldDef& field) {
    record_line_ = reader_.line();
    if (!ReadNumber(field.row, 0, kMaxScreenValue) ||
        !ReadNumber(field.column, 0, kMaxScreenValue) ||
        !ReadText(field.label) ||
        !ReadNumber(field.length, 0, kMaxFieldLength) ||
        !ReadNumber(field.width, 0, kMaxFieldLength) ||
        !ReadNumber(field.trailing_blanks, 0, kMaxScreenValue) ||
        !ReadAnyNumber(field.flags) || !ReadAnyNumber(field.type) ||
        !ReadNumber(field.lookup, 0, INT16_MAX) || !ReadText(field.choices)) {
      return false;
    }
    field.value.assign(field.length, ' ');
    field.label = TranslateNonEmpty(field.label);
    field.choices = TranslateNonEmpty(field.choices);
    return true;
  }

  bool ReadLookup(FormTables& tables, int k) {
    std::array<int16_t, 8>& attr = tables.lookup_attr[k];
    for (int i = 0; i <= 6; ++i) {
      if (!ReadAnyNumber(attr[i])) return false;
    }
    if (!ReadText(tables.lookup_text[k]) || !ReadAnyNumber(attr[7])) {
      return false;
    }
    tables.lookup_text[k] = TranslateNonEmpty(tables.lookup_text[k]);
    return true;
  }

  // With no lookups the count must be the file's last record; blank lines
  // and comments may still follow it.
  bool NothingMoreFollows() {
    std::string rest;
    while (reader_.SkipCommentLines()) {
      value_line_ = reader_.line();
      if (!reader_.ReadField(rest)) return true;
      if (!TrimBlanks(rest).empty()) return Fail(Problem::kExtraRecords);
    }
    return true;
  }

  static std::string TranslateNonEmpty(const std::string& text) {
    return text.empty() ? text : Translate(text);
  }

  CsvReader reader_;
  Problem problem_ = Problem::kNoHeader;
  int line_ = 0;
  int value_line_ = 0;
  int record_line_ = 0;
};

}  // namespace

std::string FormFilePath() {
  return Session().root_dir + "FORMS\\" + Run().program_id + ".KPN";
}

bool ReadFormText(std::string contents, std::string_view file_name,
                  std::string* error) {
  Forms() = FormTables{};
  FormTables tables;
  FormFileParser parser(std::move(contents));
  if (!parser.Parse(tables)) {
    if (error != nullptr) {
      *error = MalformedMessage(file_name, parser.line(), parser.problem());
    }
    return false;
  }
  Forms() = std::move(tables);
  SetParameterDefaults();
  return true;
}

bool ReadFormFile(std::string* error) {
  const std::string path = FormFilePath();
  std::string contents;
  switch (platform::ReadWholeFile(path, kMaxFormFileBytes, contents)) {
    case platform::ReadStatus::kOk:
      return ReadFormText(TextFileToCp850(contents), path, error);
    case platform::ReadStatus::kTooLarge:
      Forms() = FormTables{};
      if (error != nullptr)
        *error = MalformedMessage(path, 1, Problem::kTooLarge);
      return false;
    case platform::ReadStatus::kCannotOpen:
    case platform::ReadStatus::kReadError:
      break;
  }
  Forms() = FormTables{};
  if (error != nullptr)
    *error = InLanguage(kCannotRead) + " " + ShownName(path);
  return false;
}

}  // namespace tarnevos
