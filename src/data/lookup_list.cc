#include "data/lookup_list.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "console/form_screen.h"
#include "console/form_table.h"
#include "console/keyboard.h"
#include "console/windows.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "data/key_spec.h"
#include "platform/system/files.h"
#include "settings/session.h"
#include "util/dates.h"
#include "util/little_endian.h"
#include "util/text.h"

namespace tarnevos {
namespace {

constexpr char kBrowseFileName[] = "Browse.tmp";
constexpr int64_t kEntryHeaderBytes = 10;
// Entry positions are 32-bit in the file; a list stops growing before its
// file would outgrow them.
constexpr int64_t kMaxFileEnd = std::numeric_limits<int32_t>::max();
constexpr size_t kMaxLineLength = 0xFFFF;

// Frame characters (CP850) and the scroll marks of the heading's corners.
constexpr char kTopLeft = '\xC9';     // ╔
constexpr char kTopRight = '\xBB';    // ╗
constexpr char kHorizontal = '\xCD';  // ═
constexpr char kMoreLeft = '\x11';    // ◄
constexpr char kMoreRight = '\x10';   // ►
constexpr int kHorizontalStep = 8;

// The keys the list reacts to: Enter, Esc, Up, Down, PgUp, PgDn, Left,
// Right; F4 when a chained lookup is defined.
constexpr char kListKeys[] = "d,1b,4800,5000,4900,5100,4b00,4d00";
constexpr char kChainKey[] = "3e00";

struct ListState {
  int32_t choice_number = 0;
  std::string choice_text;
  int16_t chosen_lookup = 0;
  std::vector<LookupLayout> layouts;
};

ListState& State() {
  static ListState state;
  return state;
}

// Browse.tmp, open while a list runs. When the file cannot be created the
// lines are kept in memory instead, so the list still works; a file that
// is missing for a list without data file is an empty list. The file is
// deleted when the object goes.
class BrowseFile {
 public:
  // `fresh`: start an empty file (a list with a data file); otherwise read
  // the lines prepared for a list without one.
  explicit BrowseFile(bool fresh)
      : path_(Session().tmp_dir + kBrowseFileName), writable_(fresh) {
    file_ = platform::OpenFile(
        path_, fresh ? platform::OpenMode::kCreate : platform::OpenMode::kRead);
    // Even a file read as prepared by someone else goes with the list.
    platform::RegisterTemporaryFile(path_);
    if (file_ != nullptr && !fresh) {
      size_ = std::clamp<int64_t>(file_->Size(), 0, kMaxFileEnd - 1);
    }
  }
  ~BrowseFile() {
    file_.reset();
    platform::ForgetTemporaryFile(path_);
    platform::Files().Remove(path_);
  }
  BrowseFile(const BrowseFile&) = delete;
  BrowseFile& operator=(const BrowseFile&) = delete;

  // The position right after the last byte (1 for an empty file).
  int64_t End() const { return size_ + 1; }

  // Exactly `count` bytes at the 1-based position; false when the file
  // ends first or cannot be read.
  bool Read(int64_t position, size_t count, std::string& out) {
    if (position < 1 || position - 1 + static_cast<int64_t>(count) > size_) {
      return false;
    }
    if (file_ == nullptr) {
      out.assign(memory_, static_cast<size_t>(position - 1), count);
      return true;
    }
    return file_->ReadAt(position - 1, count, out);
  }

  // Writes out what was appended (before the list waits for a key, so the
  // file on disk holds every line shown).
  void Flush() {
    if (file_ != nullptr) file_->Flush();
  }

  // Appends at the end; false (nothing added) when it cannot be written.
  bool Append(std::string_view bytes) {
    if (size_ + static_cast<int64_t>(bytes.size()) >= kMaxFileEnd) {
      return false;
    }
    if (file_ == nullptr) {
      memory_.append(bytes);
    } else if (!writable_ || !file_->Append(bytes)) {
      return false;
    }
    size_ += static_cast<int64_t>(bytes.size());
    return true;
  }

 private:
  std::string path_;
  bool writable_;
  std::unique_ptr<platform::File> file_;
  std::string memory_;
  int64_t size_ = 0;
};

// One line of the list as read back from Browse.tmp.
struct Line {
  int64_t position = 0;  // of its entry
  uint32_t back = 0;     // position of the previous entry; 0 first
  int32_t record = 0;    // record position, or item number
  std::string text;
  int64_t next = 0;  // where the following entry starts
};

struct LookupDefinition {
  std::array<int16_t, 8> attr{};
  std::string heading;
};

bool FindLookup(int16_t lookup, LookupDefinition& definition) {
  const FormTables& tables = Forms();
  if (lookup < 1 || static_cast<size_t>(lookup) >= tables.lookup_attr.size()) {
    return false;
  }
  definition.attr = tables.lookup_attr[static_cast<size_t>(lookup)];
  definition.heading = static_cast<size_t>(lookup) < tables.lookup_text.size()
                           ? tables.lookup_text[static_cast<size_t>(lookup)]
                           : std::string();
  return true;
}

// The last three digits of a packed code.
std::string CodeDigits(const uint8_t* area, size_t bytes) {
  const std::string digits = UnpackDigits(GetBytes(area, 0, bytes));
  return digits.size() > 3 ? digits.substr(digits.size() - 3) : digits;
}

const LookupLayout* LayoutOf(int16_t lookup) {
  for (const LookupLayout& layout : State().layouts) {
    if (layout.lookup == lookup && layout.record_area != nullptr) {
      return &layout;
    }
  }
  return nullptr;
}

// One run of a lookup list, from opening to closing.
class LookupListRun {
 public:
  LookupListRun(int16_t lookup, const LookupDefinition& definition)
      : lookup_(lookup),
        handle_(definition.attr[0]),
        key_number_(definition.attr[1]),
        top_(definition.attr[2]),
        left_(definition.attr[3]),
        bottom_(definition.attr[4]),
        right_(definition.attr[5]),
        chained_(definition.attr[7]),
        heading_(definition.heading),
        rows_(bottom_ - top_ - 1),
        width_(right_ - left_ - 1) {}
  LookupListRun(const LookupListRun&) = delete;
  LookupListRun& operator=(const LookupListRun&) = delete;

  // A frame that leaves no line inside, or does not lie on the screen,
  // cannot show a list.
  bool FrameFits() const {
    return rows_ >= 1 && width_ >= 1 && top_ >= 1 && left_ >= 1 &&
           bottom_ <= ScreenRows() && right_ <= ScreenColumns();
  }

  // Runs the list; returns its result and the key that closed it.
  int16_t Run(KeyCode& closing_key) {
    LookupRange(lookup_, lower_, upper_);
    int16_t status = 0;
    if (handle_ > 0) SetLockMode(handle_, "+d", status);
    SetColour("+n");
    PushWindow(top_, left_, bottom_, right_);
    DrawWindowFrame(2);
    SetColour("h");
    SetAcceptedKeys("+ea", kListKeys);
    if (chained_ != 0) SetAcceptedKeys("a", kChainKey);

    int16_t result = -1;
    {
      BrowseFile file(handle_ != 0);
      file_ = &file;
      data_ended_ = handle_ == 0;
      DrawPage(1);
      result = KeyLoop(closing_key);
      file_ = nullptr;
    }  // Browse.tmp is closed and deleted before any chained list opens.

    if (closing_key == key::kF4 && chained_ != 0) {
      RecordLookup(chained_, result);
      chained_choice_ = true;
      if (result == 0) StoreLookupCode(chained_, 0, 0);
    }
    SetAcceptedKeys("-", "");
    PopWindow();
    SetColour("-");
    if (handle_ > 0) SetLockMode(handle_, "-", status);
    return result;
  }

  // True when the result came from the list chained with F4.
  bool ChainedChoice() const { return chained_choice_; }

 private:
  // --- Lines ---------------------------------------------------------------

  // Reads the entry at `position`; false when there is none or it is
  // broken (cut short, or longer than the file).
  bool ReadEntry(int64_t position, Line& line) {
    std::string header;
    if (!file_->Read(position, kEntryHeaderBytes, header)) return false;
    const size_t length = le::LoadU16(header.data() + 8);
    Line read;
    read.position = position;
    read.back = le::LoadU32(header.data());
    read.record = le::LoadI32(header.data() + 4);
    read.next = position + kEntryHeaderBytes + static_cast<int64_t>(length);
    if (!file_->Read(position + kEntryHeaderBytes, length, read.text)) {
      return false;
    }
    line = std::move(read);
    return true;
  }

  // The line at `position`, fetching records while the display reaches
  // past what Browse.tmp holds.
  bool LineAt(int64_t position, Line& line) {
    while (position >= file_->End() && !data_ended_) FetchLine();
    return ReadEntry(position, line);
  }

  // The line before `line`; false at the first line or when the back link
  // does not lead to the entry that ends where this one starts.
  bool PreviousLine(const Line& line, Line& previous) {
    if (line.back == 0 || static_cast<int64_t>(line.back) >= line.position) {
      return false;
    }
    Line read;
    if (!ReadEntry(line.back, read) || read.next != line.position) return false;
    previous = std::move(read);
    return true;
  }

  bool IsLast(const Line& line) const {
    return data_ended_ && line.next >= file_->End();
  }

  // --- Fetching --------------------------------------------------------------

  // The current key lies beyond the upper limit when its image, cut to the
  // limit's length, sorts after the limit's image.
  bool BeyondUpperLimit() const {
    if (upper_image_.empty()) return false;
    const std::string current =
        CurrentKeyImage(handle_).substr(0, upper_image_.size());
    return current.compare(upper_image_) > 0;
  }

  // An Esc waiting in the keyboard ends a long fetch; any other waiting
  // key or click is taken and dropped.
  static bool EscWaiting() {
    KeyCode key = 0;
    int16_t button = 0, row = 0, column = 0;
    ReadKey(key, button, row, column);
    return key == key::kEsc;
  }

  bool AppendLine(int32_t record, std::string text) {
    if (text.size() > kMaxLineLength) text.resize(kMaxLineLength);
    std::string entry;
    entry.reserve(kEntryHeaderBytes + text.size());
    le::AppendU32(entry, static_cast<uint32_t>(last_written_));
    le::AppendU32(entry, static_cast<uint32_t>(record));
    le::AppendU16(entry, static_cast<uint16_t>(text.size()));
    entry += text;
    const int64_t position = file_->End();
    if (!file_->Append(entry)) return false;
    last_written_ = position;
    return true;
  }

  // Appends the next line built from the data file, passing over records
  // whose line is empty, and steps one record ahead so that the end of
  // the data is known as soon as the last line is written.
  void FetchLine() {
    if (data_ended_) return;
    int16_t status = 0;
    if (!started_) {
      started_ = true;
      ReadByKey(handle_, key_number_, lower_, 1, status);
      upper_image_ = upper_.empty() ? std::string() : KeyImage(upper_, handle_);
      if (status != 0 || BeyondUpperLimit()) {
        data_ended_ = true;
        return;
      }
    }
    int passed_over = 0;
    while (!data_ended_) {
      const std::string text = TrimRightBlanks(LookupLine(lookup_));
      bool written = false;
      if (!text.empty()) {
        if (!AppendLine(RecordPosition(handle_, 0), text)) {
          data_ended_ = true;  // Browse.tmp is full or cannot be written
          return;
        }
        written = true;
      } else {
        ++passed_over;
      }
      StepRecords(handle_, 1, status);
      if (status != 0 || BeyondUpperLimit() ||
          (passed_over >= kLongFetchRecords && EscWaiting())) {
        data_ended_ = true;
      }
      if (written) return;
    }
  }

  // --- Drawing ---------------------------------------------------------------

  // `width_` characters of the text from the horizontal offset.
  std::string Visible(std::string_view text) const {
    const size_t from = static_cast<size_t>(offset_ - 1);
    std::string shown(from < text.size() ? text.substr(from, width_) : "");
    shown.resize(static_cast<size_t>(width_), ' ');
    return shown;
  }

  void WriteRow(int row, std::string_view text) {
    LocateInWindow(static_cast<int16_t>(row), 1);
    WriteText(Visible(text));
  }

  std::string_view CurrentText() const {
    return page_.empty() ? std::string_view()
                         : std::string_view(page_[highlight_ - 1].text);
  }

  void DrawHeading() {
    SetColour("+n");
    LocateInWindow(0, 0);
    const size_t from = static_cast<size_t>(offset_ - 1);
    std::string shown = from < heading_.size() ? heading_.substr(from) : "";
    const bool runs_past = shown.size() > static_cast<size_t>(width_);
    shown.resize(static_cast<size_t>(width_), kHorizontal);
    shown.insert(shown.begin(), offset_ == 1 ? kTopLeft : kMoreLeft);
    shown.push_back(offset_ <= overflow_ || runs_past ? kMoreRight : kTopRight);
    WriteText(shown);
    SetColour("-");
  }

  // Draws the page that starts at `top`. The highlight keeps its row
  // unless the page is shorter. The heading follows, so that its right
  // mark knows the longest line seen.
  void DrawPage(int64_t top) {
    page_top_ = top;
    page_.clear();
    int64_t position = top;
    bool ended = false;
    while (static_cast<int>(page_.size()) < rows_) {
      Line line;
      if (!LineAt(position, line)) {
        ended = true;
        break;
      }
      overflow_ =
          std::max<int64_t>(overflow_, static_cast<int64_t>(line.text.size()) -
                                           static_cast<int64_t>(width_));
      position = line.next;
      page_.push_back(std::move(line));
      if (IsLast(page_.back())) {
        ended = true;
        break;
      }
    }
    for (int row = 1; row <= rows_; ++row) {
      WriteRow(row, row <= static_cast<int>(page_.size())
                        ? std::string_view(page_[row - 1].text)
                        : std::string_view());
    }
    after_page_ = ended ? 0 : position;
    highlight_ =
        std::clamp(highlight_, 1, std::max(1, static_cast<int>(page_.size())));
    DrawHeading();
  }

  // --- Keys ------------------------------------------------------------------

  void MoveUp() {
    if (page_.empty()) return;
    Line previous;
    if (!PreviousLine(page_[highlight_ - 1], previous)) return;
    if (highlight_ > 1) {
      --highlight_;
    } else {
      DrawPage(previous.position);
    }
  }

  void MoveDown() {
    if (page_.empty()) return;
    if (highlight_ < static_cast<int>(page_.size())) {
      ++highlight_;
      return;
    }
    Line next;
    if (after_page_ == 0 || !LineAt(after_page_, next)) {
      after_page_ = 0;  // the records left had no line
      return;
    }
    DrawPage(page_.size() > 1 ? page_[1].position : next.position);
  }

  void PageUp() {
    if (page_.empty()) return;
    Line top = page_.front();
    int top_steps = 0;
    while (top_steps < rows_ && PreviousLine(top, top)) ++top_steps;
    if (top_steps == 0) return;
    Line current = page_[highlight_ - 1];
    int current_steps = 0;
    while (current_steps < rows_ && PreviousLine(current, current)) {
      ++current_steps;
    }
    highlight_ = highlight_ - current_steps + top_steps;
    DrawPage(top.position);
  }

  void PageDown() {
    Line next;
    if (after_page_ == 0 || !LineAt(after_page_, next)) {
      after_page_ = 0;
      return;
    }
    DrawPage(after_page_);
  }

  int16_t Choose() {
    if (page_.empty()) return -1;
    const Line& line = page_[highlight_ - 1];
    if (handle_ == 0) {
      State().choice_number = line.record;
      State().choice_text = line.text;
      return 0;
    }
    if (line.record == 0) return -1;
    return static_cast<int16_t>(RecordPosition(handle_, line.record));
  }

  int16_t KeyLoop(KeyCode& closing_key) {
    for (;;) {
      SetColour("u");
      WriteRow(highlight_, CurrentText());
      file_->Flush();
      const KeyCode key = WaitKey();
      SetColour("h");
      WriteRow(highlight_, CurrentText());
      switch (key) {
        case key::kUp:
          MoveUp();
          break;
        case key::kDown:
          MoveDown();
          break;
        case key::kPgUp:
          PageUp();
          break;
        case key::kPgDn:
          PageDown();
          break;
        case key::kLeft:
          if (offset_ > 1) {
            offset_ -= kHorizontalStep;
            DrawPage(page_top_);
          }
          break;
        case key::kRight:
          if (offset_ <= overflow_) {
            offset_ += kHorizontalStep;
            DrawPage(page_top_);
          }
          break;
        case key::kEnter:
          closing_key = key;
          return Choose();
        default:  // Esc, F4, a click or any other key
          closing_key = key;
          return -1;
      }
    }
  }

  const int16_t lookup_;
  const int16_t handle_;
  const int16_t key_number_;
  const int16_t top_, left_, bottom_, right_;
  const int16_t chained_;
  const std::string heading_;
  const int rows_;   // V
  const int width_;  // W

  std::string lower_, upper_, upper_image_;
  BrowseFile* file_ = nullptr;
  bool started_ = false;
  bool data_ended_ = true;
  int64_t last_written_ = 0;

  std::vector<Line> page_;  // the lines on screen, top first
  int64_t page_top_ = 1;
  int64_t after_page_ = 0;  // 0 when the list ends on this page
  int highlight_ = 1;
  int offset_ = 1;
  int64_t overflow_ = 0;  // longest line seen minus W
  bool chained_choice_ = false;
};

}  // namespace

void RecordLookup(int16_t lookup, int16_t& result) {
  result = -1;
  LookupDefinition definition;
  if (!FindLookup(lookup, definition)) {
    State().chosen_lookup = 0;
    return;
  }
  LookupListRun run(lookup, definition);
  if (!run.FrameFits()) {
    State().chosen_lookup = 0;
    return;
  }
  if (int16_t form = definition.attr[6]; form != 0) {
    KeyCode key = 0;
    FormScreen(form, key);
    if (key == key::kEsc) {
      State().chosen_lookup = 0;
      return;
    }
  }
  KeyCode closing_key = 0;
  result = run.Run(closing_key);
  if (result != 0) {
    State().chosen_lookup = 0;
  } else if (!run.ChainedChoice()) {
    State().chosen_lookup = lookup;
  }
}

void SetLookupLayouts(std::vector<LookupLayout> layouts) {
  State().layouts = std::move(layouts);
}

int16_t LookupRange(int16_t lookup, std::string& lower, std::string& upper) {
  lower.clear();
  upper.clear();
  const LookupLayout* layout = LayoutOf(lookup);
  if (layout != nullptr && layout->range_field != 0) {
    lower =
        PackDigits("0" + Field(layout->range_form, layout->range_field).value);
    upper = lower;
  }
  return 0;
}

std::string LookupLine(int16_t lookup) {
  const LookupLayout* layout = LayoutOf(lookup);
  if (layout == nullptr) return "";
  std::string line = CodeDigits(layout->record_area, layout->code_bytes);
  for (const LookupField& field : layout->line_fields) {
    line += "  " + GetBytes(layout->record_area, field.offset, field.width);
  }
  return line;
}

void StoreLookupCode(int16_t lookup, int16_t form, int16_t field) {
  const LookupLayout* layout = LayoutOf(lookup);
  if (layout == nullptr) return;
  AcceptFieldValue(form, CodeDigits(layout->record_area, layout->code_bytes),
                   field, 0);
}

int32_t LookupChoiceNumber() { return State().choice_number; }
const std::string& LookupChoiceText() { return State().choice_text; }
int16_t LastChosenLookup() { return State().chosen_lookup; }

int16_t RunFieldLookup(int16_t lookup, int16_t form, int16_t field) {
  int16_t result = -1;
  RecordLookup(lookup, result);
  if (result != 0) return result;
  // A choice made in a chained list is a record of that list's file: its
  // code is taken with that list's layout.
  const int16_t chosen = LastChosenLookup() != 0 ? LastChosenLookup() : lookup;
  StoreLookupCode(chosen, form, field);
  return 0;
}

void InstallLookupRunner() { SetLookupRunner(&RunFieldLookup); }

void TEST_ResetLookupList() { State() = ListState{}; }

}  // namespace tarnevos
