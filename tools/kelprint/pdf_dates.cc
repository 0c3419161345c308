#include "kelprint/pdf_dates.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnevos::kelprint {
namespace {

constexpr std::string_view kPrefix = "D:";
// A cross-reference entry: 10-digit offset, blank, 5-digit generation,
// blank, n or f, and a two-byte line end.
constexpr size_t kEntrySize = 20;

bool ParseNumber(std::string_view text, long long& value) {
  const auto [end, status] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  return status == std::errc() && end == text.data() + text.size();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool AddPdfDatePrefixes(std::string& tail, long long offset) {
  // The trailer: "startxref\n<offset>\n%%EOF".
  const size_t startxref = tail.rfind("startxref\n");
  if (startxref == std::string::npos) return false;
  const size_t number_at = startxref + 10;
  const size_t number_end = tail.find('\n', number_at);
  long long xref_offset = 0;
  if (number_end == std::string::npos ||
      !ParseNumber(
          std::string_view(tail).substr(number_at, number_end - number_at),
          xref_offset)) {
    return false;
  }
  const long long xref_at = xref_offset - offset;
  if (xref_at < 0 || static_cast<size_t>(xref_at) >= startxref ||
      tail.compare(static_cast<size_t>(xref_at), 5, "xref\n") != 0) {
    return false;
  }
  // One subsection: "xref\n0 <count>\n" and the entries.
  const size_t header_at = static_cast<size_t>(xref_at) + 5;
  const size_t header_end = tail.find('\n', header_at);
  if (header_end == std::string::npos ||
      tail.compare(header_at, 2, "0 ") != 0) {
    return false;
  }
  long long count = 0;
  if (!ParseNumber(std::string_view(tail).substr(header_at + 2,
                                                 header_end - header_at - 2),
                   count) ||
      count < 1 ||
      header_end + 1 + static_cast<size_t>(count) * kEntrySize > startxref) {
    return false;
  }
  const size_t entries_at = header_end + 1;

  // Where the prefixes go: inside the dates before the cross-references.
  std::vector<size_t> inserts;
  for (std::string_view key : {"/CreationDate (", "/ModDate ("}) {
    const size_t at = std::string_view(tail)
                          .substr(0, static_cast<size_t>(xref_at))
                          .rfind(key);
    if (at == std::string::npos) continue;
    const size_t value_at = at + key.size();
    if (value_at < tail.size() && IsDigit(tail[value_at])) {
      inserts.push_back(value_at);
    }
  }
  if (inserts.empty()) return false;

  // Every object that starts after an insert moves by the prefixes before
  // it; the entries are rewritten in place (same width), then the
  // prefixes go in, last first, so the earlier places stay valid.
  auto shift = [&](long long position) {
    long long moved = 0;
    for (size_t insert : inserts) {
      if (position > offset + static_cast<long long>(insert)) {
        moved += static_cast<long long>(kPrefix.size());
      }
    }
    return moved;
  };
  std::string patched = tail;
  for (long long i = 0; i < count; ++i) {
    const size_t entry = entries_at + static_cast<size_t>(i) * kEntrySize;
    if (patched[entry + 17] != 'n') continue;  // free entries keep 0
    long long position = 0;
    if (!ParseNumber(std::string_view(patched).substr(entry, 10), position)) {
      return false;
    }
    char digits[16];
    std::snprintf(digits, sizeof digits, "%010lld", position + shift(position));
    if (std::string_view(digits).size() != 10) return false;
    patched.replace(entry, 10, digits);
  }
  patched.replace(number_at, number_end - number_at,
                  std::to_string(xref_offset + shift(xref_offset)));
  std::sort(inserts.begin(), inserts.end());
  for (auto insert = inserts.rbegin(); insert != inserts.rend(); ++insert) {
    patched.insert(*insert, kPrefix);
  }
  tail = std::move(patched);
  return true;
}

}  // namespace tarnevos::kelprint
