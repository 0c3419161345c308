#ifndef TARNEVOS_SETTINGS_TRANSLATE_H_
#define TARNEVOS_SETTINGS_TRANSLATE_H_

#include <string>
#include <string_view>

namespace tarnevos {

// Returns the translation of a Catalan program text into the session's
// language, looked up in RootDir + "LOCALE\" + ProgramId + ".LNG"; the text
// itself when the language is Catalan ("CAT") or no entry matches.
std::string Translate(std::string_view text);

}  // namespace tarnevos

#endif  // TARNEVOS_SETTINGS_TRANSLATE_H_
