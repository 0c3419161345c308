#ifndef TARNEVOS_TOOLS_KELPRINT_TEXTS_H_
#define TARNEVOS_TOOLS_KELPRINT_TEXTS_H_

#include <string>
#include <string_view>
#include <vector>

#include "kelprint/outcome.h"
#include "kelprint/print_document.h"
#include "settings/language.h"

// What the print program shows on the terminal, in each of the session's
// languages. Every text is CP850, ready to be written to the console.
namespace tarnevos::kelprint {

// The preview's status line: page n/m, first line and column shown, keys.
std::string StatusLine(Language language, int page, int pages, int line,
                       int column);

// The preview's text for a print file without pages.
std::string NoPagesText(Language language);

// The first bad line of the print file ("línia 7: ordre desconeguda"),
// followed by how many more there are when `problem_count` > 1.
std::string ProblemText(Language language, const Problem& problem,
                        int problem_count);

// The preview's notice for a device it does not know (CP850 as written in
// the print file).
std::string UnknownDeviceText(Language language, std::string_view device);

// What happened, in a few short lines; paths (native) each on a line of
// their own, so the caller may break them.
std::vector<std::string> OutcomeLines(Language language,
                                      const Outcome& outcome);

// The line asking for a key before the program goes on.
std::string PressAKeyText(Language language);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_TEXTS_H_
