#ifndef TARNEVOS_SETTINGS_INI_READER_H_
#define TARNEVOS_SETTINGS_INI_READER_H_

#include <cstddef>
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

// Settings and language files are a few kilobytes; one larger than this
// is taken as damaged: it reads as missing (defaults, Catalan texts) and
// is noted for the driver to name at start-up.
inline constexpr size_t kMaxSettingsFileBytes = 1 << 20;

// The first settings or language file found larger than the cap this run
// (its suite path), "" when none.
const std::string& OversizedFile();
void NoteOversizedFile(std::string_view suite_path);
// The message naming an oversized file, in the session's language.
std::string OversizedFileMessage(std::string_view suite_path);
void TEST_ResetOversizedFile();

// The suite's system settings file: environment KELROOT + "Orvo.ini". Read
// again on every call, as the suite's programs do.
std::string SystemSettingsFile();

}  // namespace tarnevos

#endif  // TARNEVOS_SETTINGS_INI_READER_H_
