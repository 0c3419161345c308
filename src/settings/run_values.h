#ifndef TARNEVOS_SETTINGS_RUN_VALUES_H_
#define TARNEVOS_SETTINGS_RUN_VALUES_H_

#include <array>
#include <string>

namespace tarnevos {

// Run-wide values that only the driver sets, read by the language
// resources, the form file and the report.
struct RunValues {
  std::string program_id;               // "TARNEVOS"
  std::string letterhead_mode;          // [Rebut] Membret of Orvo.ini as read
  std::array<float, 2> fee_vat_rate{};  // [Iva0]/[Iva1] Honoraris
  std::array<float, 2> fee_withholding_rate{};  // [Ret0]/[Ret1] Honoraris
  // Index 1..7 (0 unused): 1 name, 2-5 address and contact, 6 optional
  // extra line, 7 tax identification with its two-letter country prefix.
  std::array<std::string, 8> administrator_lines{};
};

const RunValues& Run();
RunValues& MutableRun();  // the driver's (and tests') access

// Reads the administrator's identification from Orvo.ini (environment
// KELROOT + "Orvo.ini"), section [Administrador], keys Linia1 ... Linia7,
// values as read; a missing line is empty.
void LoadAdministratorLines();
// Reads Membret and the four Honoraris rates from Orvo.ini, as read (not
// trimmed); a rate that is not a number reads as 0.
void LoadFeeSettings();

// Back to the empty values of before start-up.
void TEST_ResetRun();

}  // namespace tarnevos

#endif  // TARNEVOS_SETTINGS_RUN_VALUES_H_
