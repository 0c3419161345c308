#ifndef TARNEVOS_SETTINGS_TRANSLATE_H_
#define TARNEVOS_SETTINGS_TRANSLATE_H_

#include <string>
#include <string_view>

namespace tarnevos {

// Returns the translation of a Catalan program text into the session's
// language, looked up in RootDir + "LOCALE\" + ProgramId + ".LNG"; the text
// itself when the language is Catalan ("CAT") or no entry matches.
// A missing language file is created empty (when its folder exists); a
// text without an entry, or an entry cut short at the end of the file,
// leaves the text in Catalan. The file is read from the top on every call;
// the first matching entry wins. A file written in UTF-8 is read as its
// CP850 text (TextFileToCp850).
std::string Translate(std::string_view text);

// The language file of the program: RootDir + "LOCALE\" + ProgramId +
// ".LNG" (a suite path).
std::string LanguageFilePath();

}  // namespace tarnevos

#endif  // TARNEVOS_SETTINGS_TRANSLATE_H_
