#include "console/window_notice.h"

#include "util/codepage.h"

namespace tarnevos {

std::string SmallWindowNotice(Language language, int columns, int rows) {
  // UTF-8 here, CP850 once passed through Cp850().
  constexpr PerLanguage<const char*> kTexts = {
      "Amplieu la finestra a ", "Amplíe la ventana a ", "Amplíe a xanela a ",
      "Agrandissetz era hièstra a "};
  return Cp850(ForLanguage(kTexts, language)) + std::to_string(columns) + "x" +
         std::to_string(rows);
}

}  // namespace tarnevos
