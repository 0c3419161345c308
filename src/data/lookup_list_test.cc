// The lookup list over real data files (SQLite engine), driven with
// scripted keys on a memory console that keeps a copy of the screen each
// time the list takes a key.
#include "data/lookup_list.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "console/form_screen.h"
#include "console/form_table.h"
#include "console/keyboard.h"
#include "console/windows.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "platform/console/memory_console.h"
#include "platform/recordmanager/record_manager.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/little_endian.h"
#include "util/text.h"

namespace tarnevos {
namespace {

namespace rm = platform;

constexpr unsigned char kHighlighted = 0x0F;  // "h": white on black
constexpr unsigned char kUnderEdit = 0x1E;    // "u": yellow on blue

// Keeps a copy of the screen each time a scripted event is taken (so
// screens[i] is what the operator saw when pressing key i) and can run an
// action just before an event is delivered.
class WatchingConsole : public rm::MemoryConsole {
 public:
  rm::InputEvent PollEvent() override {
    if (PendingEvents() > 0) {
      screens.push_back(screen());
      if (before_event) before_event(screens.size() - 1);
    }
    return MemoryConsole::PollEvent();
  }
  std::vector<rm::ScreenBuffer> screens;
  std::function<void(size_t)> before_event;
};

// Passes every call on to another record manager, counting get-next calls.
class CountingRecordManager : public rm::RecordManager {
 public:
  explicit CountingRecordManager(rm::RecordManager& inner) : inner_(inner) {}
  int16_t Call(int16_t operation, uint8_t* block, uint8_t* data,
               uint32_t* length, uint8_t* key, uint8_t key_length,
               int8_t key_number) override {
    if (operation % rm::kLockBias == rm::kOpGetNext) ++next_calls;
    return inner_.Call(operation, block, data, length, key, key_length,
                       key_number);
  }
  int next_calls = 0;

 private:
  rm::RecordManager& inner_;
};

std::string Digits(int value, int width) {
  std::string text = std::to_string(value);
  const size_t size = static_cast<size_t>(width);
  return text.size() >= size ? text
                             : std::string(size - text.size(), '0') + text;
}

std::string Community(int code, const std::string& name) {
  std::string record(kFinquesLength, ' ');
  auto* bytes = reinterpret_cast<uint8_t*>(record.data());
  PutBytes(bytes, field::kCommunityCode, PackDigits(Digits(code, 4)));
  PutText(bytes, field::kCommunityName, 30, name);
  return record;
}

std::string Unit(int community, int unit, const std::string& owner,
                 const std::string& designation) {
  std::string record(kPropietLength, ' ');
  auto* bytes = reinterpret_cast<uint8_t*>(record.data());
  PutBytes(bytes, field::kUnitCode,
           PackDigits(Digits(community, 4) + Digits(unit, 4)));
  PutText(bytes, field::kOwnerName, 30, owner);
  PutText(bytes, field::kDesignation, 10, designation);
  return record;
}

std::string CommunityName(int code) { return "COMUNITAT " + Digits(code, 2); }
std::string CommunityLine(int code) {
  return Digits(code, 3) + "  " + CommunityName(code);
}

// One open data file on a record manager of its own position block.
class Client {
 public:
  Client(rm::RecordManager& manager, const std::string& path)
      : manager_(manager) {
    std::array<uint8_t, 255> key{};
    std::memcpy(key.data(), path.c_str(), path.size() + 1);
    std::array<uint8_t, 64> data{};
    const std::string owner = DataOwnerName();
    std::memcpy(data.data(), owner.c_str(), owner.size() + 1);
    uint32_t length = static_cast<uint32_t>(owner.size() + 1);
    status_ = manager_.Call(rm::kOpOpen, block_.data(), data.data(), &length,
                            key.data(), 255, 0);
  }
  ~Client() {
    uint32_t length = 0;
    uint8_t key = 0;
    manager_.Call(rm::kOpClose, block_.data(), nullptr, &length, &key, 0, 0);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  int16_t status() const { return status_; }
  int16_t InsertAll(const std::vector<std::string>& records) {
    std::string batch;
    for (const std::string& record : records) batch += record;
    return manager_.InsertMany(
        block_.data(), reinterpret_cast<const uint8_t*>(batch.data()),
        static_cast<uint32_t>(records.front().size()),
        static_cast<uint32_t>(records.size()), 0, nullptr);
  }
  int16_t Delete(const std::string& key_value) {
    std::array<uint8_t, 1536> data{};
    uint32_t length = data.size();
    std::array<uint8_t, 255> key{};
    std::memcpy(key.data(), key_value.data(), key_value.size());
    int16_t status =
        manager_.Call(rm::kOpGetEqual, block_.data(), data.data(), &length,
                      key.data(), static_cast<uint8_t>(key_value.size()), 0);
    if (status != 0) return status;
    return manager_.Call(rm::kOpDelete, block_.data(), data.data(), &length,
                         key.data(), 0, 0);
  }

 private:
  rm::RecordManager& manager_;
  std::array<uint8_t, rm::kPositionBlockSize> block_{};
  int16_t status_ = 0;
};

// Lookup 1 lists communities, lookups 2 and 3 the units of the community
// in form 1's field 2 or 4, as the settlement report lays them out.
std::vector<LookupLayout> TestLayouts() {
  const std::vector<LookupField> unit_line = {{field::kOwnerName, 30},
                                              {field::kDesignation, 10}};
  return {{1, Areas().finques.data(), 2, {{field::kCommunityName, 30}}, 0, 0},
          {2, Areas().propiet.data(), 4, unit_line, 1, 2},
          {3, Areas().propiet.data(), 4, unit_line, 1, 4}};
}

class LookupListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    rm::SetConsole(&console_);
    SetLookupLayouts(TestLayouts());
    SessionSettings& session = TEST_MutableSession();
    session.root_dir = scratch_.path();
    session.tmp_dir = scratch_.path();
    session.language = "CAT";
    session.screen_colours = {{{15, 0}, {7, 0}, {0, 7}, {1, 7}, {14, 1}}};
    scratch_.Write("DADES/readme.txt", "data files");
    for (const FileLayout& layout : FileLayouts()) {
      scratch_.Write(std::string("ddf/") + layout.name + ".xdf",
                     DictionaryBytes(layout));
    }
    OpenFinques();
    OpenPropiet();
  }
  void TearDown() override {
    int16_t status = 0;
    CloseAllDataFiles(status);
    testing::ResetRunState();
    rm::SetRecordManager(nullptr);
    rm::SetConsole(nullptr);
  }

  // Empty data files, as at the start of a test.
  void RecreateDataFiles() {
    int16_t status = 0;
    CloseAllDataFiles(status);
    TEST_ResetAccessLayer();
    rm::TEST_ResetRecordManager();
    std::remove(DataPath("FinquesH").c_str());
    std::remove(DataPath("PropietH").c_str());
    OpenFinques();
    OpenPropiet();
    console_.Reset();
    console_.screens.clear();
  }

  std::string DataPath(const std::string& name) {
    return scratch_.path() + "DADES/" + name + ".dat";
  }
  void AddCommunities(int count, int first = 1) {
    std::vector<std::string> records;
    for (int code = first; code < first + count; ++code) {
      records.push_back(Community(code, CommunityName(code)));
    }
    Client client(rm::CurrentRecordManager(), DataPath("FinquesH"));
    ASSERT_EQ(client.status(), 0);
    ASSERT_EQ(client.InsertAll(records), 0);
  }
  void AddUnits(const std::vector<std::string>& records) {
    Client client(rm::CurrentRecordManager(), DataPath("PropietH"));
    ASSERT_EQ(client.status(), 0);
    ASSERT_EQ(client.InsertAll(records), 0);
  }

  // The frame of the lookup's window (screen rows and columns).
  struct Frame {
    int16_t top, left, bottom, right;
  };
  void DefineLookup(int number, int16_t handle, Frame frame,
                    std::string heading = "COD  NOM", int16_t form = 0,
                    int16_t chained = 0) {
    FormTables& tables = Forms();
    if (tables.lookup_count < number) {
      tables.lookup_count = static_cast<int16_t>(number);
      tables.lookup_attr.resize(static_cast<size_t>(number) + 1);
      tables.lookup_text.resize(static_cast<size_t>(number) + 1);
    }
    tables.lookup_attr[number] = {
        handle,       0,           frame.top, frame.left,
        frame.bottom, frame.right, form,      chained};
    tables.lookup_text[number] = std::move(heading);
    frame_ = frame;
  }
  // Form 1 with the report's community and unit fields (2 to 5).
  void DefineForm1(const std::string& first_community,
                   const std::string& last_community = "999") {
    FormTables& tables = Forms();
    tables.form_count = std::max<int16_t>(tables.form_count, 1);
    tables.forms.resize(std::max<size_t>(tables.forms.size(), 2));
    FormDef& form = tables.forms[1];
    form.key_list = "d,1b,4800,5000,3e00";
    form.fields.assign(1, FieldDef{});
    const char* labels[] = {"Data ", "Com1 ", "Dep1 ", "Com2 ", "Dep2 "};
    for (int i = 0; i < 5; ++i) {
      FieldDef field;
      field.row = static_cast<int16_t>(2 + i);
      field.column = 1;
      field.label = labels[i];
      field.length = i == 0 ? 10 : 3;
      field.type = i == 0 ? 1 : 2;
      field.lookup = static_cast<int16_t>(i == 1 || i == 3 ? 1
                                          : i == 2         ? 2
                                          : i == 4         ? 3
                                                           : 0);
      field.value.assign(static_cast<size_t>(field.length), ' ');
      form.fields.push_back(field);
    }
    form.field_count = 5;
    tables.max_fields = std::max<int16_t>(tables.max_fields, 5);
    FindField(1, 2)->value = FitText(first_community, 3);
    FindField(1, 4)->value = FitText(last_community, 3);
  }

  void Keys(const std::vector<int>& codes) { console_.PushKeys(codes); }
  int16_t Run(int16_t lookup) {
    int16_t result = 99;
    RecordLookup(lookup, result);
    EXPECT_EQ(console_.ExhaustedWaits(), 0) << "the script ran out";
    EXPECT_EQ(console_.PendingEvents(), 0u) << "keys left unread";
    EXPECT_FALSE(scratch_.Exists("Browse.tmp")) << "Browse.tmp left behind";
    return result;
  }

  // The list's rows on a screen: text (trailing blanks removed) and the
  // row shown in the colour of the current line (0 when none).
  int Rows() const { return frame_.bottom - frame_.top - 1; }
  int Width() const { return frame_.right - frame_.left - 1; }
  std::string ListRow(const rm::ScreenBuffer& screen, int row) const {
    std::string text;
    for (int c = frame_.left + 1; c < frame_.right; ++c) {
      text.push_back(
          static_cast<char>(screen.At(frame_.top + row, c).character));
    }
    return TrimRightBlanks(text);
  }
  std::vector<std::string> ListRows(const rm::ScreenBuffer& screen) const {
    std::vector<std::string> rows;
    for (int r = 1; r <= Rows(); ++r) rows.push_back(ListRow(screen, r));
    return rows;
  }
  int CurrentRow(const rm::ScreenBuffer& screen) const {
    int found = 0;
    for (int r = 1; r <= Rows(); ++r) {
      const unsigned char colour =
          screen.At(frame_.top + r, frame_.left + 1).colour;
      if (colour == kUnderEdit) {
        EXPECT_EQ(found, 0) << "two current rows";
        found = r;
      } else {
        EXPECT_EQ(colour, kHighlighted) << "row " << r;
      }
    }
    return found;
  }
  std::vector<std::string> Lines(int first, int last) const {
    std::vector<std::string> lines;
    for (int code = first; code <= last; ++code) {
      lines.push_back(CommunityLine(code));
    }
    while (static_cast<int>(lines.size()) < Rows()) lines.push_back("");
    return lines;
  }
  int ChosenCommunity() const {
    return std::stoi(UnpackDigits(GetBytes(Areas().finques.data(), 0, 2)));
  }

  testing::ScratchDir scratch_;
  testing::ScopedEnv env_{{"KELROOT", scratch_.path()}};
  WatchingConsole console_;
  Frame frame_{};
};

TEST_F(LookupListTest, PagesAndScrollsAFullPageAndOneLineMore) {
  // V = 5 rows. With exactly V records the page is full, Down on the last
  // line and PgDn do nothing; with V + 1, Down from the bottom row scrolls
  // by one line and the page then ends at the last record.
  for (int records : {5, 6}) {
    SCOPED_TRACE(records);
    RecreateDataFiles();
    DefineLookup(1, kFinquesHandle, {3, 10, 9, 50});
    AddCommunities(records);
    Keys({key::kDown, key::kDown, key::kDown, key::kDown, key::kDown,
          key::kDown, key::kPgDn, key::kEnter});
    EXPECT_EQ(Run(1), 0);
    EXPECT_EQ(ChosenCommunity(), records);

    const auto& screens = console_.screens;
    ASSERT_EQ(screens.size(), 8u);
    EXPECT_EQ(ListRows(screens[0]), Lines(1, 5));
    EXPECT_EQ(CurrentRow(screens[0]), 1);
    EXPECT_EQ(CurrentRow(screens[4]), 5);
    const std::vector<std::string> settled =
        records == 5 ? Lines(1, 5) : Lines(2, 6);
    for (size_t i = 5; i < 8; ++i) {
      EXPECT_EQ(ListRows(screens[i]), settled) << "after key " << i;
      EXPECT_EQ(CurrentRow(screens[i]), 5) << "after key " << i;
    }
  }
}

TEST_F(LookupListTest, PagesUpAndDownKeepingTheHighlightRow) {
  // V = 10 over 20 records: bring the page top to line 5 with the
  // highlight on row 8 (line 12); PgUp shows the page from line 1 with the
  // highlight on line 2; PgDn then shows lines 11-20 on the same row; a
  // further PgDn finds no line after the page.
  DefineLookup(1, kFinquesHandle, {2, 5, 13, 60});
  AddCommunities(20);
  std::vector<int> keys(9, key::kDown);           // row 10
  keys.insert(keys.end(), 4, key::kDown);         // top at line 5
  keys.insert(keys.end(), {key::kUp, key::kUp});  // row 8 = line 12
  keys.insert(keys.end(), {key::kPgUp, key::kPgDn, key::kPgDn, key::kEnter});
  Keys(keys);
  EXPECT_EQ(Run(1), 0);
  EXPECT_EQ(ChosenCommunity(), 12);
  const auto& screens = console_.screens;
  ASSERT_EQ(screens.size(), keys.size());
  EXPECT_EQ(ListRows(screens[15]), Lines(5, 14)) << "before PgUp";
  EXPECT_EQ(CurrentRow(screens[15]), 8);
  EXPECT_EQ(ListRows(screens[16]), Lines(1, 10)) << "after PgUp";
  EXPECT_EQ(CurrentRow(screens[16]), 2);
  EXPECT_EQ(ListRows(screens[17]), Lines(11, 20)) << "after PgDn";
  EXPECT_EQ(CurrentRow(screens[17]), 2);
  EXPECT_EQ(ListRows(screens[18]), Lines(11, 20)) << "nothing after the page";
}

TEST_F(LookupListTest, PageDownOntoAShortPageMovesTheHighlightUp) {
  DefineLookup(1, kFinquesHandle, {2, 5, 13, 60});
  AddCommunities(15);
  Keys({key::kDown, key::kDown, key::kDown, key::kDown, key::kDown, key::kDown,
        key::kDown, key::kPgDn, key::kPgUp, key::kUp, key::kUp, key::kUp,
        key::kPgUp, key::kEnter});
  EXPECT_EQ(Run(1), 0);
  const auto& screens = console_.screens;
  EXPECT_EQ(ListRows(screens[8]), Lines(11, 15));
  EXPECT_EQ(CurrentRow(screens[8]), 5) << "line 15, the last";
  // Back up a page: the current line goes 10 lines back, to line 5.
  EXPECT_EQ(ListRows(screens[9]), Lines(1, 10));
  EXPECT_EQ(CurrentRow(screens[9]), 5);
  // Up to line 2, then PgUp on the first page does nothing.
  EXPECT_EQ(CurrentRow(screens[12]), 2);
  EXPECT_EQ(CurrentRow(screens[13]), 2);
  EXPECT_EQ(ChosenCommunity(), 2);
}

TEST_F(LookupListTest, ScrollsSidewaysByEightWithCornerMarks) {
  // W = 15; the lines are 35 characters long, 20 more than W: offsets 1,
  // 9, 17 and 25, and no further. The left corner shows the left mark
  // whenever the offset is past 1, the right one the right mark while
  // more of the longest line lies beyond.
  DefineLookup(1, kFinquesHandle, {2, 10, 5, 26}, "COD  NOM");
  std::vector<std::string> records = {
      Community(1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"), Community(2, "SHORT")};
  Client(rm::CurrentRecordManager(), DataPath("FinquesH")).InsertAll(records);
  Keys({key::kRight, key::kRight, key::kRight, key::kRight, key::kLeft,
        key::kLeft, key::kLeft, key::kLeft, key::kEsc});
  EXPECT_EQ(Run(1), -1);
  const std::string line = "001  ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
  const std::string heading = "COD  NOM";
  const int offsets[] = {1, 9, 17, 25, 25, 17, 9, 1, 1};
  const auto& screens = console_.screens;
  ASSERT_EQ(screens.size(), 9u);
  for (size_t i = 0; i < screens.size(); ++i) {
    const int offset = offsets[i];
    SCOPED_TRACE("offset " + std::to_string(offset));
    EXPECT_EQ(
        ListRow(screens[i], 1),
        TrimRightBlanks(line.substr(static_cast<size_t>(offset - 1), 15)));
    const std::string shown_heading =
        static_cast<size_t>(offset) <= heading.size()
            ? heading.substr(static_cast<size_t>(offset - 1))
            : "";
    std::string top;
    for (int c = 10; c <= 26; ++c) {
      top.push_back(static_cast<char>(screens[i].At(2, c).character));
    }
    std::string expected(1, offset == 1 ? '\xC9' : '\x11');
    expected += shown_heading;
    expected.append(15 - shown_heading.size(), '\xCD');
    expected.push_back(offset <= 20 ? '\x10' : '\xBB');
    EXPECT_EQ(top, expected);
  }
}

TEST_F(LookupListTest, CloseWithoutChoiceOnEmptyListsAndOtherKeys) {
  struct Case {
    const char* name;
    int communities;
    std::vector<int> keys;
    bool click;
  } cases[] = {
      {"empty file, Enter", 0, {key::kEnter}, false},
      {"Esc", 3, {key::kDown, key::kEsc}, false},
      {"F4 without a chained lookup", 3, {key::kF4}, false},
      {"a letter", 3, {'x'}, false},
      {"a click", 3, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecreateDataFiles();
    DefineLookup(1, kFinquesHandle, {3, 10, 9, 50});
    if (c.communities > 0) AddCommunities(c.communities);
    Keys(c.keys);
    if (c.click) console_.PushClick(5, 20);
    EXPECT_EQ(Run(1), -1);
    ASSERT_FALSE(console_.screens.empty());
    if (c.communities == 0) {
      // One blank line, shown as the current line.
      EXPECT_EQ(ListRows(console_.screens[0]), Lines(0, -1));
      EXPECT_EQ(CurrentRow(console_.screens[0]), 1);
    }
  }
}

TEST_F(LookupListTest, ListsTheUnitsOfTheCommunityOfTheForm) {
  // Lookups 2 and 3 list the units of the community in form 1's fields 2
  // and 4; a community without units gives an empty list.
  DefineForm1("2", "  3");
  DefineLookup(2, kPropietHandle, {3, 5, 12, 70});
  DefineLookup(3, kPropietHandle, {3, 5, 12, 70});
  AddUnits({Unit(1, 1, "ONE", "1A"), Unit(2, 1, "GARCIA*JOAN", "BAIXOS"),
            Unit(2, 7, "PUIG", "1r 2a"), Unit(3, 4, "ROCA", "ATIC"),
            Unit(4, 1, "FOUR", "")});
  Keys({key::kDown, key::kEnter});
  EXPECT_EQ(Run(2), 0);
  EXPECT_EQ(ListRows(console_.screens[0])[0],
            "001  " + FitText("GARCIA*JOAN", 30) + "  BAIXOS");
  EXPECT_EQ(ListRows(console_.screens[0])[1],
            "007  " + FitText("PUIG", 30) + "  1r 2a");
  EXPECT_EQ(ListRows(console_.screens[0])[2], "");
  EXPECT_EQ(UnpackDigits(GetBytes(Areas().propiet.data(), 0, 4)), "00020007");

  console_.screens.clear();
  Keys({key::kEnter});
  EXPECT_EQ(Run(3), 0);
  EXPECT_EQ(ListRows(console_.screens[0])[0],
            "004  " + FitText("ROCA", 30) + "  ATIC");
  EXPECT_EQ(ListRows(console_.screens[0])[1], "");

  console_.screens.clear();
  FindField(1, 2)->value = "9  ";
  Keys({key::kEnter});
  EXPECT_EQ(Run(2), -1);
  EXPECT_EQ(ListRows(console_.screens[0])[0], "");
}

TEST_F(LookupListTest, EscStopsALongFetchAndOtherKeysAreDropped) {
  // Lookup 4 has no line layout: every record is passed over. After a run
  // of records without a line the list watches the keyboard: an Esc ends
  // the data, other keys are dropped; keys typed while lines come quickly
  // are left for the list.
  auto counting =
      std::make_unique<CountingRecordManager>(rm::CurrentRecordManager());
  AddCommunities(300);
  rm::SetRecordManager(counting.get());
  DefineLookup(4, kFinquesHandle, {3, 10, 9, 50});

  Keys({'x', key::kEsc, key::kEnter});
  EXPECT_EQ(Run(4), -1);
  EXPECT_EQ(counting->next_calls, kLongFetchRecords + 1)
      << "the fetch looked at the keyboard after each record from the "
         "64th on";
  // 'x' and Esc were taken by the fetch, Enter by the list.
  ASSERT_EQ(console_.screens.size(), 3u);
  EXPECT_EQ(ListRows(console_.screens[2]), Lines(0, -1));

  // A short run of such records is read to its end without touching the
  // keys.
  RecreateDataFiles();
  AddCommunities(kLongFetchRecords - 1);
  counting =
      std::make_unique<CountingRecordManager>(rm::CurrentRecordManager());
  rm::SetRecordManager(counting.get());
  console_.screens.clear();
  Keys({key::kDown, key::kEnter});
  EXPECT_EQ(Run(4), -1);
  EXPECT_EQ(counting->next_calls, kLongFetchRecords - 1);
  EXPECT_EQ(console_.screens.size(), 2u);
  rm::SetRecordManager(nullptr);
}

TEST_F(LookupListTest, F4OpensTheChainedListAndItsChoiceIsStored) {
  // Lookup 1 lists communities and chains to lookup 2 (the units of the
  // community in form 1's field 2). F4 opens the second list over the
  // first; the unit chosen there is what the field receives.
  DefineForm1("2");
  DefineLookup(2, kPropietHandle, {6, 20, 12, 75}, "COD  PROPIETARI");
  DefineLookup(1, kFinquesHandle, {3, 10, 9, 50}, "COD  NOM", 0, 2);
  AddCommunities(4);
  AddUnits({Unit(2, 5, "PUIG", "1A"), Unit(2, 8, "ROCA", "2B")});
  std::vector<std::string> browse_seen;
  console_.before_event = [&](size_t index) {
    if (index == 2) browse_seen.push_back(scratch_.Read("Browse.tmp"));
  };
  Keys({key::kDown, key::kF4, key::kDown, key::kEnter});
  EXPECT_EQ(RunFieldLookup(1, 1, 3), 0);
  EXPECT_EQ(LastChosenLookup(), 2);
  EXPECT_EQ(Field(1, 3).value, "008");
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(scratch_.Exists("Browse.tmp"));

  const auto& screens = console_.screens;
  ASSERT_EQ(screens.size(), 4u);
  // The chained list's window lies over the first one, still on screen.
  EXPECT_EQ(screens[2].At(3, 10).character, 0xC9);
  EXPECT_EQ(screens[2].At(6, 20).character, 0xC9);
  std::string row;
  for (int c = 21; c < 75; ++c) {
    row += static_cast<char>(screens[2].At(7, c).character);
  }
  EXPECT_EQ(TrimRightBlanks(row), "005  PUIG                            1A");
  // Only the chained list's own lines are in Browse.tmp then.
  ASSERT_EQ(browse_seen.size(), 1u);
  EXPECT_NE(browse_seen[0].find("PUIG"), std::string::npos);
  EXPECT_EQ(browse_seen[0].find("COMUNITAT"), std::string::npos);

  // Cancelling the chained list cancels the first one too.
  console_.screens.clear();
  Keys({key::kF4, key::kEsc});
  EXPECT_EQ(RunFieldLookup(1, 1, 3), -1);
  EXPECT_EQ(LastChosenLookup(), 0);
  EXPECT_EQ(Field(1, 3).value, "008");
}

TEST_F(LookupListTest, FormScreenF4StoresTheChosenCode) {
  DefineForm1("1");
  FindField(1, 1)->value = "15/03/2024";
  DefineLookup(1, kFinquesHandle, {3, 10, 9, 50});
  AddCommunities(3);
  InstallLookupRunner();
  // Field 2 (first community): F4, Down twice, Enter stores 003 and moves
  // on to field 3; Esc twice leaves the form.
  Keys({key::kEnter, key::kF4, key::kDown, key::kDown, key::kEnter, key::kEsc,
        key::kEsc});
  int16_t form = 1;
  KeyCode key = 0;
  FormScreen(form, key);
  EXPECT_EQ(key, key::kEsc);
  EXPECT_EQ(Field(1, 2).value, "003");
  EXPECT_EQ(console_.PendingEvents(), 0u);
  EXPECT_EQ(console_.ExhaustedWaits(), 0);
}

TEST_F(LookupListTest, KeepsWhatItReadWhenAnotherWorkstationChangesTheFile) {
  // 30 communities, V = 5. While the first page is shown another
  // workstation deletes communities 2 and 6 to 10 and adds 0 and 31. The
  // lines already read stay as they were; the list goes on from where the
  // data file's position was; choosing a line whose record is gone
  // returns the read's status and chooses nothing.
  DefineLookup(1, kFinquesHandle, {3, 10, 9, 50});
  AddCommunities(30);
  std::unique_ptr<rm::RecordManager> other = rm::MakeSqliteRecordManager();
  console_.before_event = [&](size_t index) {
    if (index != 0) return;
    Client client(*other, DataPath("FinquesH"));
    ASSERT_EQ(client.status(), 0);
    for (int code : {2, 6, 7, 8, 9, 10}) {
      ASSERT_EQ(client.Delete(PackDigits(Digits(code, 4))), 0) << code;
    }
    ASSERT_EQ(client.InsertAll({Community(0, "NEW"), Community(31, "LAST")}),
              0);
  };
  Keys({key::kPgDn, key::kPgDn, key::kPgUp, key::kPgUp, key::kDown,
        key::kEnter});
  int16_t result = 0;
  RecordLookup(1, result);
  EXPECT_EQ(result, rm::kStatusInvalidPositioning);
  const auto& screens = console_.screens;
  ASSERT_EQ(screens.size(), 6u);
  EXPECT_EQ(ListRows(screens[0]), Lines(1, 5));
  // Community 6 had been read ahead before it was deleted.
  std::vector<std::string> second;
  for (int code : {6, 11, 12, 13, 14}) second.push_back(CommunityLine(code));
  EXPECT_EQ(ListRows(screens[1]), second);
  EXPECT_EQ(ListRows(screens[3]), second) << "back from the third page";
  EXPECT_EQ(ListRows(screens[4]), Lines(1, 5)) << "the first page unchanged";

  // Choosing a record that still exists works.
  console_.screens.clear();
  console_.before_event = nullptr;
  Keys({key::kDown, key::kDown, key::kEnter});
  EXPECT_EQ(Run(1), 0);
  EXPECT_EQ(ChosenCommunity(), 3);
  EXPECT_EQ(
      ListRows(console_.screens[0]),
      (std::vector<std::string>{"000  NEW", CommunityLine(1), CommunityLine(3),
                                CommunityLine(4), CommunityLine(5)}));
}

// Browse.tmp bytes for a list without data file.
std::string Entry(uint32_t back, int32_t item, const std::string& text) {
  std::string out;
  le::AppendU32(out, back);
  le::AppendU32(out, static_cast<uint32_t>(item));
  le::AppendU16(out, static_cast<uint16_t>(text.size()));
  return out + text;
}
std::string Entries(const std::vector<std::pair<int32_t, std::string>>& lines) {
  std::string out;
  uint32_t previous = 0;
  for (const auto& [item, text] : lines) {
    const uint32_t position = static_cast<uint32_t>(out.size()) + 1;
    out += Entry(previous, item, text);
    previous = position;
  }
  return out;
}

TEST_F(LookupListTest, ListWithoutDataFileShowsThePreparedLines) {
  DefineLookup(5, 0, {3, 10, 9, 50});
  scratch_.Write("Browse.tmp", Entries({{10, "first"},
                                        {20, "second"},
                                        {30, "third"},
                                        {40, "fourth"},
                                        {50, "fifth"},
                                        {60, "sixth"}}));
  Keys({key::kPgDn, key::kUp, key::kEnter});
  EXPECT_EQ(Run(5), 0);
  EXPECT_EQ(LookupChoiceNumber(), 50);
  EXPECT_EQ(LookupChoiceText(), "fifth");
  EXPECT_EQ(ListRows(console_.screens[1]),
            (std::vector<std::string>{"sixth", "", "", "", ""}));

  // With no prepared file the list is empty and nothing is chosen.
  console_.screens.clear();
  Keys({key::kEnter});
  EXPECT_EQ(Run(5), -1);
  EXPECT_EQ(LookupChoiceText(), "fifth");
}

TEST_F(LookupListTest, BrokenBrowseFilesEndTheListInsteadOfFailing) {
  DefineLookup(5, 0, {3, 10, 9, 50});
  const std::string good = Entries({{1, "one"}, {2, "two"}, {3, "three"}});
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> shown;
    int16_t result;  // of Down, Down, Down, Up, Enter
    int32_t choice;
  } cases[] = {
      {"cut inside the last text",
       good.substr(0, good.size() - 2),
       {"one", "two", "", "", ""},
       0,
       1},
      {"cut inside a header",
       good + std::string("\x05\x00\x00", 3),
       {"one", "two", "three", "", ""},
       0,
       2},
      {"length beyond the file",
       good + Entry(17, 4, "four").substr(0, 12),
       {"one", "two", "three", "", ""},
       0,
       2},
      {"back link to the middle of an entry",
       Entries({{1, "one"}, {2, "two"}}) + Entry(5, 3, "three"),
       {"one", "two", "three", "", ""},
       0,
       3},
      {"back link forward",
       Entry(0, 1, "one") + Entry(900, 2, "two"),
       {"one", "two", "", "", ""},
       0,
       2},
      {"nothing but garbage",
       std::string("\xff\xff\xff\xff\xff\xff\xff", 7),
       {"", "", "", "", ""},
       -1,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    console_.screens.clear();
    TEST_ResetLookupList();
    SetLookupLayouts(TestLayouts());
    scratch_.Write("Browse.tmp", c.bytes);
    Keys({key::kDown, key::kDown, key::kDown, key::kUp, key::kEnter});
    EXPECT_EQ(Run(5), c.result);
    EXPECT_EQ(ListRows(console_.screens[0]), c.shown);
    EXPECT_EQ(LookupChoiceNumber(), c.choice);
  }

  // A list with a data file starts Browse.tmp anew, whatever a killed run
  // left there.
  DefineLookup(1, kFinquesHandle, {3, 10, 9, 50});
  AddCommunities(2);
  scratch_.Write("Browse.tmp", std::string(5000, '\xee'));
  console_.screens.clear();
  Keys({key::kDown, key::kUp, key::kDown, key::kEnter});
  EXPECT_EQ(Run(1), 0);
  EXPECT_EQ(ListRows(console_.screens[0]), Lines(1, 2));
  EXPECT_EQ(ChosenCommunity(), 2);

  // Without a temporary directory to write in, the lines are kept in
  // memory and the list works the same.
  TEST_MutableSession().tmp_dir = scratch_.path() + "missing/";
  console_.screens.clear();
  Keys({key::kDown, key::kUp, key::kDown, key::kEnter});
  EXPECT_EQ(Run(1), 0);
  EXPECT_EQ(ListRows(console_.screens[3]), Lines(1, 2));
  EXPECT_EQ(ChosenCommunity(), 2);
  TEST_MutableSession().tmp_dir = scratch_.path();

  // Random damage: whatever the bytes, the list opens, moves and closes.
  std::mt19937 random(7);
  for (int round = 0; round < 60; ++round) {
    std::string bytes = Entries({{1, std::string(300, 'a')},
                                 {2, "b"},
                                 {3, std::string(70000 % 4000, 'c')}});
    const int damage = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < damage; ++i) {
      bytes[random() % bytes.size()] = static_cast<char>(random());
    }
    if (round % 3 == 0) bytes.resize(random() % bytes.size());
    scratch_.Write("Browse.tmp", bytes);
    Keys({key::kDown, key::kPgDn, key::kRight, key::kRight, key::kDown,
          key::kPgUp, key::kUp, key::kLeft, key::kEsc});
    EXPECT_EQ(Run(5), -1) << "round " << round;
  }
}

TEST_F(LookupListTest, LinesLongerThanTheWindowScrollToTheirEnd) {
  DefineLookup(5, 0, {3, 70, 6, 80}, std::string(50, 'H'));
  const std::string text = std::string(990, 'x') + "0123456789";
  scratch_.Write("Browse.tmp", Entries({{1, text}}));
  std::vector<int> keys(130, key::kRight);
  keys.push_back(key::kEsc);
  Keys(keys);
  EXPECT_EQ(Run(5), -1);
  // W = 9, overflow 991: the offset stops at 993, the first past it.
  EXPECT_EQ(ListRow(console_.screens.back(), 1), "23456789");
  EXPECT_EQ(console_.screens.back().At(3, 80).character, 0xBB);
  EXPECT_EQ(console_.screens.back().At(3, 70).character, 0x11);
}

TEST_F(LookupListTest, LineRangeAndCodeLayouts) {
  DefineForm1(" 12", "3");
  std::string lower, upper;
  struct RangeCase {
    int16_t lookup;
    std::string expected;
  } ranges[] = {
      {1, ""}, {2, PackDigits("0012")}, {3, PackDigits("0003")}, {7, ""}};
  for (const RangeCase& c : ranges) {
    EXPECT_EQ(LookupRange(c.lookup, lower, upper), 0);
    EXPECT_EQ(lower, c.expected) << c.lookup;
    EXPECT_EQ(upper, c.expected) << c.lookup;
  }

  const std::string community = Community(42, Cp850("PLAÇA MAJOR"));
  std::memcpy(Areas().finques.data(), community.data(), community.size());
  const std::string unit = Unit(42, 317, "FERRER", "LOCAL 1");
  std::memcpy(Areas().propiet.data(), unit.data(), unit.size());
  EXPECT_EQ(TrimRightBlanks(LookupLine(1)), "042  " + Cp850("PLAÇA MAJOR"));
  EXPECT_EQ(LookupLine(1).size(), 35u);
  EXPECT_EQ(LookupLine(2),
            "317  " + FitText("FERRER", 30) + "  " + FitText("LOCAL 1", 10));
  EXPECT_EQ(LookupLine(3), LookupLine(2));
  EXPECT_EQ(LookupLine(4), "");

  struct StoreCase {
    int16_t lookup;
    std::string stored;
  } stores[] = {{1, "042"}, {2, "317"}, {3, "317"}, {6, "   "}};
  for (const StoreCase& c : stores) {
    FindField(1, 3)->value = "   ";
    StoreLookupCode(c.lookup, 1, 3);
    EXPECT_EQ(Field(1, 3).value, c.stored) << c.lookup;
  }
}

TEST_F(LookupListTest, LeavesTheScreenKeysAndColourAsItFoundThem) {
  DefineLookup(1, kFinquesHandle, {3, 10, 9, 50});
  AddCommunities(8);
  console_.Write(5, 1, std::string(80, '#'), 0x4E);
  SetAcceptedKeys("ea", "41");
  SetColour("r");
  const rm::ScreenBuffer before = console_.screen();
  Keys({key::kDown, key::kEsc});
  EXPECT_EQ(Run(1), -1);
  EXPECT_EQ(console_.screen(), before);
  EXPECT_EQ(WindowDepth(), 0);
  KeyCode result = 0;
  EXPECT_TRUE(LookUpAcceptedKey(0x41, result));
  EXPECT_FALSE(LookUpAcceptedKey(key::kPgDn, result));
  EXPECT_EQ(CurrentAttribute(), 2);

  // Definitions that cannot be shown: nothing drawn, nothing chosen.
  DefineLookup(2, kFinquesHandle, {3, 10, 4, 50});    // no row inside
  DefineLookup(3, kFinquesHandle, {20, 10, 30, 50});  // off the screen
  for (int16_t lookup : {2, 3, 0, 99}) {
    int16_t outcome = 5;
    RecordLookup(lookup, outcome);
    EXPECT_EQ(outcome, -1) << lookup;
    EXPECT_EQ(console_.screen(), before) << lookup;
  }

  // A form shown first: Esc on it cancels the list before it opens.
  FormTables& tables = Forms();
  tables.form_count = 2;
  tables.forms.resize(3);
  tables.forms[2].key_list = "d,1b";
  tables.forms[2].field_count = 1;
  FieldDef field;
  field.row = 2;
  field.column = 1;
  field.label = "Filtre: ";
  field.length = 4;
  field.value = "    ";
  tables.forms[2].fields = {FieldDef{}, field};
  tables.forms[2].window = {0, 12, 20, 16, 60};
  DefineLookup(1, kFinquesHandle, {3, 10, 9, 50}, "COD", 2);
  console_.screens.clear();
  Keys({key::kEsc});
  EXPECT_EQ(Run(1), -1);
  EXPECT_EQ(console_.screens.size(), 1u) << "no list after the form";
  Keys({key::kEnter, key::kDown, key::kEnter});
  EXPECT_EQ(Run(1), 0);
  EXPECT_EQ(ChosenCommunity(), 2);
}

}  // namespace
}  // namespace tarnevos
