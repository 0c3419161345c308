#include "kelprint/texts.h"

#include <array>
#include <cerrno>

#include "util/codepage.h"

namespace tarnevos::kelprint {
namespace {

// Texts are UTF-8 here and CP850 once passed through Cp850(). A "@" stands
// for a number filled in when the text is used.
struct Words {
  const char* page;  // status line
  const char* line;
  const char* column;
  const char* keys;
  const char* no_pages;
  const char* line_number;     // "line @: "
  const char* one_more;        // " (1 more problem)"
  const char* more;            // " (@ more problems)"
  const char* unknown_device;  // followed by the device in quotes
  const char* shown_on_screen;
  const char* one_page;
  const char* pages;        // "@ pages"
  const char* pdf_written;  // followed by " (@ pages)" and a path line
  const char* text_written;
  const char* to;        // ends the line before a path
  const char* sent;      // followed by " (@ pages)"
  const char* to_queue;  // followed by the queue's name
  const char* to_default_queue;
  const char* job;  // followed by the job's name
  const char* nothing_to_print;
  const char* nothing_sent;
  const char* cannot_read;
  const char* cannot_write;
  const char* no_spooler;
  const char* not_printed;
  const char* spooler_refused;  // "(lp, code @)"
  const char* spooler_stopped;
  const char* pdf_is_in;
  const char* press_a_key;
};

constexpr PerLanguage<Words> kWords = {{
    {"Pàgina",
     "Línia",
     "Col",
     "AvPàg/RePàg Inici/Fi Fletxes Esc surt",
     "El fitxer d'impressió no té cap pàgina.",
     "línia @: ",
     " (1 problema més)",
     " (@ problemes més)",
     "Dispositiu desconegut",
     "es mostra a la pantalla",
     "1 pàgina",
     "@ pàgines",
     "S'ha desat el document en PDF",
     "S'ha desat el document en text",
     "a:",
     "S'ha enviat el document",
     "a la impressora",
     "a la impressora predeterminada",
     "Treball:",
     "El fitxer d'impressió no té cap pàgina:",
     "no s'ha enviat res a la impressora.",
     "No es pot llegir el fitxer d'impressió",
     "No es pot escriure el fitxer",
     "No hi ha l'ordre lp del sistema d'impressió (CUPS):",
     "el document no s'ha imprès.",
     "La impressora no ha acceptat el document (lp, codi @):",
     "L'ordre lp s'ha aturat abans d'acabar:",
     "El PDF és a:",
     "Premeu una tecla per continuar"},
    {"Página",
     "Línea",
     "Col",
     "AvPág/RePág Inicio/Fin Flechas Esc sale",
     "El fichero de impresión no contiene ninguna página.",
     "línea @: ",
     " (1 problema más)",
     " (@ problemas más)",
     "Dispositivo desconocido",
     "se muestra en pantalla",
     "1 página",
     "@ páginas",
     "Se ha guardado el documento en PDF",
     "Se ha guardado el documento en texto",
     "en:",
     "Se ha enviado el documento",
     "a la impresora",
     "a la impresora predeterminada",
     "Trabajo:",
     "El fichero de impresión no contiene ninguna página:",
     "no se ha enviado nada a la impresora.",
     "No se puede leer el fichero de impresión",
     "No se puede escribir el fichero",
     "No está la orden lp del sistema de impresión (CUPS):",
     "el documento no se ha impreso.",
     "La impresora no ha aceptado el documento (lp, código @):",
     "La orden lp se ha detenido antes de acabar:",
     "El PDF está en:",
     "Pulse una tecla para continuar"},
    {"Páxina",
     "Liña",
     "Col",
     "AvPáx/RePáx Inicio/Fin Frechas Esc sae",
     "O ficheiro de impresión non contén ningunha páxina.",
     "liña @: ",
     " (1 problema máis)",
     " (@ problemas máis)",
     "Dispositivo descoñecido",
     "móstrase na pantalla",
     "1 páxina",
     "@ páxinas",
     "Gardouse o documento en PDF",
     "Gardouse o documento en texto",
     "en:",
     "Enviouse o documento",
     "á impresora",
     "á impresora predeterminada",
     "Traballo:",
     "O ficheiro de impresión non contén ningunha páxina:",
     "non se enviou nada á impresora.",
     "Non se pode ler o ficheiro de impresión",
     "Non se pode escribir o ficheiro",
     "Non está a orde lp do sistema de impresión (CUPS):",
     "o documento non se imprimiu.",
     "A impresora non aceptou o documento (lp, código @):",
     "A orde lp detívose antes de acabar:",
     "O PDF está en:",
     "Prema unha tecla para continuar"},
    {"Pagina",
     "Linha",
     "Col",
     "AvPag/RePag Inici/Fin Sagetes Esc sortís",
     "Er arxiu d'impression non a cap de pagina.",
     "linha @: ",
     " (1 problèma mès)",
     " (@ problèmes mès)",
     "Dispositiu desconeishut",
     "se mòstre ena pantalha",
     "1 pagina",
     "@ pagines",
     "S'a guardat eth document en PDF",
     "S'a guardat eth document en tèxte",
     "en:",
     "S'a mandat eth document",
     "ara imprimidora",
     "ara imprimidora predeterminada",
     "Trabalh:",
     "Er arxiu d'impression non a cap de pagina:",
     "non s'a mandat arren ara imprimidora.",
     "Non se pot léger er arxiu d'impression",
     "Non se pot escríuer er arxiu",
     "Non i a er òrdre lp deth sistèma d'impression (CUPS):",
     "eth document non s'a imprimit.",
     "Era imprimidora non a acceptat eth document (lp, còdi @):",
     "Er òrdre lp s'a arturat abans d'acabar:",
     "Eth PDF ei en:",
     "Premetz ua tecla entà contunhar"},
}};

constexpr int kProblemKinds = static_cast<int>(ProblemKind::kFeedsTooLarge) + 1;

// One text per ProblemKind, in the order of the enumeration.
constexpr PerLanguage<std::array<const char*, kProblemKinds>> kProblems = {{
    {"el fitxer d'impressió és buit",
     "l'última línia està tallada (no té final de línia)",
     "el fitxer d'impressió no té línia DEVICE",
     "s'ignora una segona línia DEVICE",
     "línia buida",
     "ordre desconeguda",
     "la llargada de pàgina no és un número",
     "llargada de pàgina inferior a 1",
     "llargada de pàgina massa gran; s'ha reduït a @",
     "codi de control desconegut",
     "codi de justificació desconegut",
     "línia de text sense salts de línia",
     "els salts de línia no són un número",
     "la columna no és un número",
     "columna negativa",
     "massa pàgines; la resta es descarta",
     "la pàgina passa de les seves @ línies; continua en una pàgina nova",
     "columna més enllà de la @; el text es descarta",
     "el text passa de la columna @; s'ha tallat",
     "salts de línia negatius",
     "massa salts de línia; s'han reduït a @"},
    {"el fichero de impresión está vacío",
     "la última línea está cortada (no tiene final de línea)",
     "el fichero de impresión no tiene línea DEVICE",
     "se ignora una segunda línea DEVICE",
     "línea vacía",
     "orden desconocida",
     "la longitud de página no es un número",
     "longitud de página inferior a 1",
     "longitud de página demasiado grande; se ha reducido a @",
     "código de control desconocido",
     "código de justificación desconocido",
     "línea de texto sin saltos de línea",
     "los saltos de línea no son un número",
     "la columna no es un número",
     "columna negativa",
     "demasiadas páginas; el resto se descarta",
     "la página supera sus @ líneas; continúa en una página nueva",
     "columna más allá de la @; el texto se descarta",
     "el texto pasa de la columna @; se ha cortado",
     "saltos de línea negativos",
     "demasiados saltos de línea; se han reducido a @"},
    {"o ficheiro de impresión está baleiro",
     "a última liña está cortada (non ten fin de liña)",
     "o ficheiro de impresión non ten liña DEVICE",
     "ignórase unha segunda liña DEVICE",
     "liña baleira",
     "orde descoñecida",
     "a lonxitude de páxina non é un número",
     "lonxitude de páxina inferior a 1",
     "lonxitude de páxina demasiado grande; reduciuse a @",
     "código de control descoñecido",
     "código de xustificación descoñecido",
     "liña de texto sen saltos de liña",
     "os saltos de liña non son un número",
     "a columna non é un número",
     "columna negativa",
     "demasiadas páxinas; o resto descártase",
     "a páxina supera as súas @ liñas; continúa nunha páxina nova",
     "columna máis alá da @; o texto descártase",
     "o texto pasa da columna @; cortouse",
     "saltos de liña negativos",
     "demasiados saltos de liña; reducíronse a @"},
    {"er arxiu d'impression ei void",
     "era darrèra linha ei talhada (non a fin de linha)",
     "er arxiu d'impression non a linha DEVICE",
     "s'ignòre ua dusau linha DEVICE",
     "linha voida",
     "òrdre desconeishut",
     "era longor de pagina non ei un nombre",
     "longor de pagina inferiora a 1",
     "longor de pagina massa grana; s'a redusit a @",
     "còdi de contraròtle desconeishut",
     "còdi de justificacion desconeishut",
     "linha de tèxte sense sauts de linha",
     "es sauts de linha non son un nombre",
     "era colomna non ei un nombre",
     "colomna negativa",
     "massa pagines; era rèsta se lèishe",
     "era pagina passe es sues @ linhes; contunhe en ua pagina naua",
     "colomna mès enlà dera @; eth tèxte se lèishe",
     "eth tèxte passe dera colomna @; s'a talhat",
     "sauts de linha negatius",
     "massa sauts de linha; s'an redusit a @"},
}};

// Why the system refused, for the errors a file or folder commonly gives.
struct Reasons {
  const char* missing;     // ENOENT
  const char* denied;      // EACCES, EPERM
  const char* full;        // ENOSPC, EDQUOT
  const char* read_only;   // EROFS
  const char* folder;      // EISDIR
  const char* not_folder;  // ENOTDIR
  const char* io;          // EIO
  const char* other;       // any other error number "@"
};

constexpr PerLanguage<Reasons> kReasons = {{
    {"la carpeta o el fitxer no existeix", "no hi ha permís", "el disc és ple",
     "el disc és només de lectura", "és una carpeta",
     "una part del camí no és una carpeta", "error d'entrada/sortida",
     "error del sistema @"},
    {"la carpeta o el fichero no existe", "no hay permiso",
     "el disco está lleno", "el disco es de solo lectura", "es una carpeta",
     "una parte de la ruta no es una carpeta", "error de entrada/salida",
     "error del sistema @"},
    {"o cartafol ou o ficheiro non existe", "non hai permiso",
     "o disco está cheo", "o disco é só de lectura", "é un cartafol",
     "unha parte da ruta non é un cartafol", "erro de entrada/saída",
     "erro do sistema @"},
    {"era carpeta o er arxiu non existís", "non i a permís", "eth disc ei plen",
     "eth disc ei sonque de lectura", "ei ua carpeta",
     "ua part deth camin non ei ua carpeta", "error d'entrada/sortida",
     "error deth sistèma @"},
}};

// The text with its "@" replaced by the number, as CP850.
std::string Fill(const char* utf8, long long number) {
  std::string text = Cp850(utf8);
  const size_t at = text.find('@');
  if (at != std::string::npos) {
    text.replace(at, 1, std::to_string(number));
  }
  return text;
}

const Words& WordsOf(Language language) {
  return ForLanguage(kWords, language);
}

std::string PageCount(const Words& words, int pages) {
  return pages == 1 ? Cp850(words.one_page) : Fill(words.pages, pages);
}

std::string Reason(Language language, int system_error) {
  const Reasons& reasons = ForLanguage(kReasons, language);
  switch (system_error) {
    case ENOENT:
      return Cp850(reasons.missing);
    case EACCES:
    case EPERM:
      return Cp850(reasons.denied);
    case ENOSPC:
    case EDQUOT:
      return Cp850(reasons.full);
    case EROFS:
      return Cp850(reasons.read_only);
    case EISDIR:
      return Cp850(reasons.folder);
    case ENOTDIR:
      return Cp850(reasons.not_folder);
    case EIO:
      return Cp850(reasons.io);
    default:
      return Fill(reasons.other, system_error);
  }
}

std::string Path(const std::string& native) { return Cp850(native); }

}  // namespace

std::string StatusLine(Language language, int page, int pages, int line,
                       int column) {
  const Words& words = WordsOf(language);
  return " " + Cp850(words.page) + " " + std::to_string(page) + "/" +
         std::to_string(pages) + "  " + Cp850(words.line) + " " +
         std::to_string(line) + "  " + Cp850(words.column) + " " +
         std::to_string(column) + "   " + Cp850(words.keys);
}

std::string NoPagesText(Language language) {
  return Cp850(WordsOf(language).no_pages);
}

std::string ProblemText(Language language, const Problem& problem,
                        int problem_count) {
  const Words& words = WordsOf(language);
  const int kind = static_cast<int>(problem.kind);
  std::string text;
  if (problem.line_number > 0) {
    text = Fill(words.line_number, problem.line_number);
  }
  if (kind >= 0 && kind < kProblemKinds) {
    text += Fill(ForLanguage(kProblems, language)[static_cast<size_t>(kind)],
                 problem.value);
  }
  if (problem_count == 2) {
    text += Cp850(words.one_more);
  } else if (problem_count > 2) {
    text += Fill(words.more, problem_count - 1);
  }
  return text;
}

std::string UnknownDeviceText(Language language, std::string_view device) {
  const Words& words = WordsOf(language);
  return Cp850(words.unknown_device) + " \"" + std::string(device) +
         "\": " + Cp850(words.shown_on_screen);
}

std::vector<std::string> OutcomeLines(Language language,
                                      const Outcome& outcome) {
  const Words& words = WordsOf(language);
  const std::string pages = " (" + PageCount(words, outcome.pages) + ")";
  switch (outcome.kind) {
    case Outcome::Kind::kPdfWritten:
      return {Cp850(words.pdf_written) + pages + " " + Cp850(words.to),
              Path(outcome.path)};
    case Outcome::Kind::kTextWritten:
      return {Cp850(words.text_written) + pages + " " + Cp850(words.to),
              Path(outcome.path)};
    case Outcome::Kind::kSpooled: {
      std::vector<std::string> lines = {
          Cp850(words.sent) + pages + " " +
          (outcome.queue.empty()
               ? Cp850(words.to_default_queue)
               : Cp850(words.to_queue) + " " + Path(outcome.queue)) +
          "."};
      if (!outcome.job_id.empty()) {
        lines.push_back(Cp850(words.job) + " " + Path(outcome.job_id));
      }
      lines.push_back(Cp850(words.pdf_is_in));
      lines.push_back(Path(outcome.path));
      return lines;
    }
    case Outcome::Kind::kNothingToSpool:
      return {Cp850(words.nothing_to_print), Cp850(words.nothing_sent)};
    case Outcome::Kind::kCannotRead:
      return {Cp850(words.cannot_read), Path(outcome.path),
              "(" + Reason(language, outcome.system_error) + ")"};
    case Outcome::Kind::kCannotWrite:
      return {Cp850(words.cannot_write), Path(outcome.path),
              "(" + Reason(language, outcome.system_error) + ")"};
    case Outcome::Kind::kNoSpooler:
      return {Cp850(words.no_spooler), Cp850(words.not_printed),
              Cp850(words.pdf_is_in), Path(outcome.path)};
    case Outcome::Kind::kSpoolerFailed: {
      std::vector<std::string> lines = {
          outcome.exit_code < 0
              ? Cp850(words.spooler_stopped)
              : Fill(words.spooler_refused, outcome.exit_code)};
      // The spooler's own words, as it wrote them.
      if (!outcome.detail.empty()) lines.push_back(Path(outcome.detail));
      lines.push_back(Cp850(words.pdf_is_in));
      lines.push_back(Path(outcome.path));
      return lines;
    }
  }
  return {};
}

std::string PressAKeyText(Language language) {
  return Cp850(WordsOf(language).press_a_key);
}

}  // namespace tarnevos::kelprint
