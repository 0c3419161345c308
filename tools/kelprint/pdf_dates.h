#ifndef TARNEVOS_TOOLS_KELPRINT_PDF_DATES_H_
#define TARNEVOS_TOOLS_KELPRINT_PDF_DATES_H_

#include <string>

namespace tarnevos::kelprint {

// cairo 1.16 writes the dates it is given without the "D:" that opens a
// PDF date ("(20261031000000Z)"), which PDF readers are asked to accept
// but the standard requires. This puts the prefix into the document
// information's /CreationDate and /ModDate in `tail`, the end of a PDF
// whose first `offset` bytes come before it, and moves the cross-reference
// offsets and the startxref behind them accordingly. The tail must hold the
// information dictionary, the cross-reference table and the trailer (all
// of which cairo writes when the document is finished). Returns false and
// leaves `tail` as it was when it is not laid out so, or when the dates
// already have their prefix.
bool AddPdfDatePrefixes(std::string& tail, long long offset);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_PDF_DATES_H_
