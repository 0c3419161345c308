#ifndef TARNEVOS_SETTINGS_INI_READER_H_
#define TARNEVOS_SETTINGS_INI_READER_H_

#include <string>
#include <string_view>

namespace tarnevos {

// Looks up one key of one section of a settings file (a suite path) and
// returns its value exactly as written (not trimmed; an outer pair of double
// quotes removed). Opens, scans and closes the file on every call. A
// missing file, section or key gives "". A file written in UTF-8 is read
// as its CP850 text (TextFileToCp850).
std::string ReadSetting(std::string_view file, std::string_view section,
                        std::string_view key);

// The same lookup over a file's contents already in memory (fuzzing, tests).
std::string ReadSettingFromText(std::string_view contents,
                                std::string_view section, std::string_view key);

// The suite's system settings file: environment KELROOT + "Orvo.ini". Read
// again on every call, as the suite's programs do.
std::string SystemSettingsFile();

}  // namespace tarnevos

#endif  // TARNEVOS_SETTINGS_INI_READER_H_
