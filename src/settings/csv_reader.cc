#include "settings/csv_reader.h"

#include <utility>

#include "util/numbers.h"

namespace tarnevos {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

CsvReader::CsvReader(std::string contents) : contents_(std::move(contents)) {}

void CsvReader::SkipLineEnd() {
  if (pos_ >= contents_.size()) return;
  if (contents_[pos_] == '\r' && pos_ + 1 < contents_.size() &&
      contents_[pos_ + 1] == '\n') {
    ++pos_;
  }
  ++pos_;
  ++line_;
}

void CsvReader::SkipBlanksAndLineEnds() {
  while (pos_ < contents_.size()) {
    char c = contents_[pos_];
    if (IsBlank(c)) {
      ++pos_;
    } else if (IsLineEnd(c)) {
      SkipLineEnd();
    } else {
      break;
    }
  }
}

bool CsvReader::SkipCommentLines() {
  after_comma_ = false;
  while (pos_ < contents_.size()) {
    size_t look = pos_;
    while (look < contents_.size() && IsBlank(contents_[look])) ++look;
    if (look < contents_.size() && contents_[look] != '\'' &&
        !IsLineEnd(contents_[look])) {
      return true;
    }
    // A comment line or a blank one: skip it with its line end.
    pos_ = look;
    while (pos_ < contents_.size() && !IsLineEnd(contents_[pos_])) ++pos_;
    SkipLineEnd();
  }
  return false;
}

bool CsvReader::ReadField(std::string& field) {
  field.clear();
  if (after_comma_) {
    // A comma announces a field, even an empty one at the end of a line.
    while (pos_ < contents_.size() && IsBlank(contents_[pos_])) ++pos_;
  } else {
    SkipBlanksAndLineEnds();
    if (pos_ >= contents_.size()) return false;
  }
  after_comma_ = false;

  if (pos_ < contents_.size() && contents_[pos_] == '"') {
    // Quoted: everything up to the closing quote, commas and blanks
    // included. A missing closing quote ends the field at the line end.
    ++pos_;
    size_t end = pos_;
    while (end < contents_.size() && contents_[end] != '"' &&
           !IsLineEnd(contents_[end])) {
      ++end;
    }
    field.assign(contents_, pos_, end - pos_);
    pos_ = end;
    if (pos_ < contents_.size() && contents_[pos_] == '"') ++pos_;
    // Whatever follows the closing quote up to the field's end is ignored.
    while (pos_ < contents_.size() && contents_[pos_] != ',' &&
           !IsLineEnd(contents_[pos_])) {
      ++pos_;
    }
  } else {
    size_t end = pos_;
    while (end < contents_.size() && contents_[end] != ',' &&
           !IsLineEnd(contents_[end])) {
      ++end;
    }
    size_t last = end;
    while (last > pos_ && IsBlank(contents_[last - 1])) --last;
    field.assign(contents_, pos_, last - pos_);
    pos_ = end;
  }

  if (pos_ < contents_.size()) {
    if (contents_[pos_] == ',') {
      ++pos_;
      after_comma_ = true;
    } else {
      SkipLineEnd();
    }
  }
  return true;
}

bool CsvReader::ReadInteger(int16_t& value, bool* valid) {
  std::string field;
  if (!ReadField(field)) {
    value = 0;
    if (valid != nullptr) *valid = false;
    return false;
  }
  value = ToInt16(NumericValue(field));
  if (valid != nullptr) {
    size_t pos = field.find_first_not_of(" \t");
    if (pos != std::string::npos && (field[pos] == '-' || field[pos] == '+')) {
      ++pos;
    }
    if (pos != std::string::npos && pos < field.size() && field[pos] == '.') {
      ++pos;
    }
    *valid = pos != std::string::npos && pos < field.size() &&
             field[pos] >= '0' && field[pos] <= '9';
  }
  return true;
}

bool CsvReader::AtEnd() const {
  if (after_comma_) return false;
  for (size_t i = pos_; i < contents_.size(); ++i) {
    if (!IsBlank(contents_[i]) && !IsLineEnd(contents_[i])) return false;
  }
  return true;
}

}  // namespace tarnevos
