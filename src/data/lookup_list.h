#ifndef TARNEVOS_DATA_LOOKUP_LIST_H_
#define TARNEVOS_DATA_LOOKUP_LIST_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The lookup list that F4 opens on a form field: a framed window listing
// the records of one data file in key order, one line per record, from
// which the operator picks one. Lookups are defined in the form tables
// (Forms().lookup_attr / lookup_text, console/form_table.h):
//
//   attr 0  handle of the data file; 0 = no data file: the list shows the
//           lines already prepared in Browse.tmp
//   attr 1  key number of the listing
//   attr 2..5  frame: top row, left column, bottom row, right column
//   attr 6  form shown before the list (0 none)
//   attr 7  lookup opened by F4 from this one (0 none)
//   text    the heading written into the top border
//
// Lines are built only as the display reaches them and every line built is
// appended to Browse.tmp in the session's temporary directory, so moving
// back never reads the data file again. Each entry of Browse.tmp (byte
// positions 1-based, the first entry at 1, entries back to back):
//
//   +0  4  byte position of the previous entry, 0 for the first (LE)
//   +4  4  record position in the data file; the item number for a list
//          without data file (LE, signed)
//   +8  2  text length L (LE)
//   +10 L  the line, trailing blanks removed
namespace tarnevos {

// Runs lookup `lookup`. result: -1 cancelled or nothing chosen; 0 a record
// was chosen and read into the record area of the lookup's file (for a
// list without data file: LookupChoiceNumber/LookupChoiceText are set);
// any other value is the status of re-reading the chosen record (it may
// have been deleted meanwhile), and nothing was chosen. A lookup number
// that the form tables do not define, or whose frame leaves no room for a
// line, gives -1 and shows nothing.
void RecordLookup(int16_t lookup, int16_t& result);

// How the lines and codes of one lookup's records are made, given by the
// program that defines the lookups (the form file says only which file,
// key and frame a lookup uses).
struct LookupField {
  size_t offset;  // in the record
  size_t width;
};
struct LookupLayout {
  int16_t lookup = 0;
  // The record area of the lookup's data file.
  const uint8_t* record_area = nullptr;
  // Bytes of the packed code that starts the record; the code shown and
  // stored is its last three digits.
  size_t code_bytes = 0;
  // The fields shown after the code, two blanks apart.
  std::vector<LookupField> line_fields;
  // A form field holding a community number that bounds the list to that
  // community's records (the key range); 0 and 0 for the whole file.
  int16_t range_form = 0;
  int16_t range_field = 0;
};
// Replaces the layouts (lookups without one list no records and store no
// code).
void SetLookupLayouts(std::vector<LookupLayout> layouts);

// The key range of a lookup: the packed community number of its range
// field as both bounds; two empty strings for a lookup without one.
// Returns 0.
int16_t LookupRange(int16_t lookup, std::string& lower, std::string& upper);

// The line of a lookup built from the current record in its file's record
// area; "" for lookups that have no line layout (such records are not
// listed).
std::string LookupLine(int16_t lookup);

// Passes the code of the chosen record to AcceptFieldValue(form, code,
// field, 0), which validates, stores and shows it. Lookups without a
// layout store nothing.
void StoreLookupCode(int16_t lookup, int16_t form, int16_t field);

// What a list without data file chose last: the entry's item number and its
// line. 0 and "" until something is chosen.
int32_t LookupChoiceNumber();
const std::string& LookupChoiceText();

// The lookup whose list made the last choice: the lookup opened, or the one
// chained from it with F4 when the choice was made there. 0 when the last
// list closed without a choice.
int16_t LastChosenLookup();

// F4 on a form field: runs the field's lookup and, when a record was
// chosen, passes its code to the field (with the code layout of the list
// where the choice was made). Returns 0 when a record was chosen, the
// lookup's result otherwise. Has the form screen's LookupRunner signature.
int16_t RunFieldLookup(int16_t lookup, int16_t form, int16_t field);
// Installs RunFieldLookup as the form screen's F4 handler.
void InstallLookupRunner();

// A list that fetches records stops looking at the keyboard while lines
// come quickly (keys typed meanwhile are kept for the list); once one fetch
// has passed over this many records without a line, it watches for Esc
// after every record.
inline constexpr int kLongFetchRecords = 64;

// Forgets the last choice and the layouts.
void TEST_ResetLookupList();

}  // namespace tarnevos

#endif  // TARNEVOS_DATA_LOOKUP_LIST_H_
