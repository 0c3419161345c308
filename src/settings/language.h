#ifndef TARNEVOS_SETTINGS_LANGUAGE_H_
#define TARNEVOS_SETTINGS_LANGUAGE_H_

#include <array>
#include <string_view>

// The four languages the program speaks. Settings name them by three-letter
// codes; anything but "SPA", "GLG" and "OCI" is Catalan, the suite's own
// language. Fixed texts that are not in the language file come in small
// tables with one entry per language, in the order of the enumeration.
namespace tarnevos {

enum class Language { kCatalan = 0, kSpanish = 1, kGalician = 2, kAranese = 3 };
constexpr int kLanguageCount = 4;

// "SPA" Spanish, "GLG" Galician, "OCI" Aranese; any other text Catalan.
constexpr Language ParseLanguage(std::string_view code) {
  if (code == "SPA") return Language::kSpanish;
  if (code == "GLG") return Language::kGalician;
  if (code == "OCI") return Language::kAranese;
  return Language::kCatalan;
}

// The settings code of a language ("CAT", "SPA", "GLG", "OCI").
constexpr std::string_view LanguageCode(Language language) {
  constexpr std::array<std::string_view, kLanguageCount> kCodes = {
      "CAT", "SPA", "GLG", "OCI"};
  return kCodes[static_cast<int>(language)];
}

// One value per language: Catalan, Spanish, Galician, Aranese.
template <typename T>
using PerLanguage = std::array<T, kLanguageCount>;

template <typename T>
constexpr const T& ForLanguage(const PerLanguage<T>& table, Language language) {
  return table[static_cast<int>(language)];
}

}  // namespace tarnevos

#endif  // TARNEVOS_SETTINGS_LANGUAGE_H_
