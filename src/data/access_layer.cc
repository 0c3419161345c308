#include "data/access_layer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "console/keyboard.h"
#include "console/messages.h"
#include "console/windows.h"
#include "data/data_server.h"
#include "data/file_table.h"
#include "data/key_spec.h"
#include "platform/console/console.h"
#include "platform/recordmanager/record_manager.h"
#include "platform/system/files.h"
#include "platform/system/paths.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "util/codepage.h"
#include "util/little_endian.h"

namespace tarnevos {
namespace {

namespace rm = platform;

using DataBuffer = std::array<uint8_t, kDataBufferSize>;

// The record manager's code for a file name it cannot use.
constexpr int16_t kStatusInvalidFileName = 11;
constexpr int kOpenRetryMilliseconds = 3000;
constexpr int kMaxRandomWaitMilliseconds = 10000;
constexpr int16_t kLockNone = 0;
constexpr int16_t kLockWait = 1;
constexpr int16_t kLockNoWait = 2;

struct LanguageTexts {
  const char* stop_prefix;
  const char* locked;
  // A data file whose records are not those of its dictionary:
  // mismatch_prefix + file + mismatch_middle + dictionary.
  const char* mismatch_prefix;
  const char* mismatch_middle;
};

// UTF-8 here, CP850 once passed through Cp850().
constexpr PerLanguage<LanguageTexts> kTexts = {{
    {"NO ES POT ACCEDIR AL FITXER ", "FITXER BLOQUEJAT. ESPEREU UN MOMENT.",
     "EL FITXER ", " NO CORRESPON AL SEU DICCIONARI "},
    {"NO SE PUEDE ACCEDER AL FICHERO ", "FICHERO BLOQUEADO. ESPERE UN MOMENTO.",
     "EL FICHERO ", " NO CORRESPONDE A SU DICCIONARIO "},
    {"NOM SE PODE ACEDER AO FICHEIRO ",
     "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO.", "O FICHEIRO ",
     " NON CORRESPONDE AO SEU DICIONARIO "},
    {"NON SE PÊT ACCEDIR ATH FICH╚R ", "FICH╚R BLOQUEJAT. ESPERATZ UN MOMENT.",
     "ETH FICHÈR ", " NON CORRESPON AD ETH SON DICCIONARI "},
}};

const LanguageTexts& TextsForSession() {
  return ForLanguage(kTexts, SessionLanguage());
}

void DefaultFatalStop() {
  // Give the terminal back in its normal state before leaving.
  platform::CurrentConsole().Suspend();
  std::exit(0);
}

FatalStopHandler& StopHandler() {
  static FatalStopHandler handler = DefaultFatalStop;
  return handler;
}

UnattendedStopNotice& UnattendedNotice() {
  static UnattendedStopNotice notice = nullptr;
  return notice;
}

// Pairs (slot number, saved lock mode), one byte each, latest last.
std::string& LockModeStack() {
  static std::string stack;
  return stack;
}

void FatalStop(const std::string& file_name, int16_t& status);

// A read that finds the server connection gone stops the program as an
// open failure does: the report must not go on as if the file had ended.
int16_t StopIfConnectionLost(FileSlot& slot, int16_t status) {
  if (status == rm::kStatusConnectionLost) {
    const std::string name = slot.file_name;
    int16_t stop_status = status;
    FatalStop(name, stop_status);
  }
  return status;
}

// Operations that take the single-record lock bias in a locking mode.
bool TakesLockBias(int16_t operation) {
  return (operation >= 5 && operation <= 13) || operation == 19 ||
         (operation >= 22 && operation <= 24) ||
         (operation >= 33 && operation <= 35);
}

int16_t Call(int16_t operation, FileSlot& slot, uint8_t* data,
             uint32_t& data_length, uint8_t* key, size_t key_length,
             int key_number) {
  return rm::RecordManagerCall(
      operation, slot.position_block.data(), data, &data_length, key,
      static_cast<uint8_t>(std::min<size_t>(key_length, kKeyBufferSize)),
      static_cast<int8_t>(key_number));
}

// Copies what a read returned into the caller's area: never more than the
// file's record length, the bytes returned, or the area itself holds.
void CopyToRecordArea(FileSlot& slot, const uint8_t* data, uint32_t returned) {
  if (slot.record_area == nullptr || slot.record_length <= 0) return;
  size_t count = std::min<size_t>(returned, kDataBufferSize);
  count = std::min<size_t>(count, static_cast<size_t>(slot.record_length));
  count = std::min(count, slot.area_size);
  std::memcpy(slot.record_area, data, count);
}

void KeepReturnedKey(FileSlot& slot, const uint8_t* key) {
  size_t length = std::min(slot.key_value.size(), kKeyBufferSize);
  slot.key_value.assign(reinterpret_cast<const char*>(key), length);
}

// The common read: lock bias, the wait loop of lock mode 1, the record area
// filled from what the record manager returned.
int16_t ExecuteRead(FileSlot& slot, int16_t& operation) {
  if (slot.lock_mode != kLockNone && TakesLockBias(operation)) {
    operation = static_cast<int16_t>(operation + rm::kLockBias);
  }
  // The key buffer's filler follows the plain operation.
  const int16_t plain = operation >= rm::kLockBias
                            ? static_cast<int16_t>(operation - rm::kLockBias)
                            : operation;
  uint8_t filler = ' ';
  if (plain == rm::kOpGetGreater || plain == rm::kOpGetGreaterOrEqual) {
    filler = 0;
  } else if (plain == rm::kOpGetLess || plain == rm::kOpGetLessOrEqual) {
    filler = 0xFF;
  }
  const size_t record_length = std::min<size_t>(
      std::max<int32_t>(slot.record_length, 0), kDataBufferSize);
  int attempts = 0;
  bool box_shown = false;
  int16_t status = 0;
  for (;;) {
    if (attempts == 1) {
      box_shown = MessageBox(24, Cp850(TextsForSession().locked));
    }
    // An area that holds a whole record is itself the primed buffer: the
    // record manager reads straight into it, never past the record length.
    // A shorter area is primed into a blank buffer and copied back cut.
    const bool direct = slot.record_area != nullptr && record_length > 0 &&
                        slot.area_size >= record_length;
    DataBuffer buffer;
    uint8_t* data = slot.record_area;
    if (!direct) {
      data = buffer.data();
      std::memset(data, ' ', record_length);
      if (slot.record_area != nullptr) {
        std::memcpy(data, slot.record_area,
                    std::min(record_length, slot.area_size));
      }
    }
    uint32_t data_length = static_cast<uint32_t>(record_length);
    std::array<uint8_t, kKeyBufferSize + 1> key;
    key.fill(filler);
    size_t key_length = std::min(slot.key_value.size(), kKeyBufferSize);
    std::memcpy(key.data(), slot.key_value.data(), key_length);

    status = Call(operation, slot, data, data_length, key.data(), key_length,
                  slot.key_number);
    if (!direct) CopyToRecordArea(slot, data, data_length);
    KeepReturnedKey(slot, key.data());

    bool locked =
        status == rm::kStatusRecordLocked || status == rm::kStatusFileLocked;
    if (!locked || slot.lock_mode != kLockWait) break;
    double wait = kMaxRandomWaitMilliseconds * platform::RandomUnit() + 1;
    platform::SleepMilliseconds(static_cast<int>(std::lrint(wait)));
    attempts = std::min(attempts + 1, 2);
  }
  if (box_shown) PopWindow();
  return StopIfConnectionLost(slot, status);
}

int16_t TurnShortBufferIntoSuccess(int16_t status) {
  if (status == rm::kStatusBufferTooShort) return rm::kStatusOk;
  return status;
}

struct SplitName {
  std::string directory;
  std::string base;
  std::string extension;
};

// Scans from the end: the last ":", "\" or "/" ends the directory; the
// leftmost "." after it starts the extension (".dat" when there is none).
SplitName SplitFileName(const std::string& name) {
  size_t base_start = 0;
  size_t dot = std::string::npos;
  for (size_t i = name.size(); i-- > 0;) {
    char c = name[i];
    if (c == ':' || c == '\\' || c == '/') {
      base_start = i + 1;
      break;
    }
    if (c == '.') dot = i;
  }
  SplitName split;
  split.directory = name.substr(0, base_start);
  if (dot == std::string::npos) {
    split.base = name.substr(base_start);
    split.extension = ".dat";
  } else {
    split.base = name.substr(base_start, dot - base_start);
    split.extension = name.substr(dot);
  }
  return split;
}

// The dictionary of a data file: RootDir + "ddf\" + base name + ".xdf".
std::string DictionaryPath(const SplitName& split) {
  return Session().root_dir + "ddf\\" + split.base + ".xdf";
}

// The file description a dictionary file holds (after its 2-byte length),
// as much of it as the file has and the length word asks for (at most a
// data buffer); empty when the file cannot be read (missing, a folder) or
// is too short for the length word.
std::string DictionarySpecification(const std::string& suite_path) {
  std::string bytes;
  const platform::ReadStatus status =
      platform::ReadWholeFile(suite_path, 2 + kDataBufferSize, bytes);
  if ((status != platform::ReadStatus::kOk &&
       status != platform::ReadStatus::kTooLarge) ||
      bytes.size() < 2) {
    return "";
  }
  const int length = le::LoadI16(bytes.data());
  size_t count = std::min<size_t>(std::max(length, 0), kDataBufferSize);
  count = std::min(count, bytes.size() - 2);
  return bytes.substr(2, count);
}

// The creation specification of a dictionary file in a blank-filled
// buffer. A missing or short file leaves blanks, which the record manager
// refuses.
DataBuffer ReadDictionary(const std::string& suite_path) {
  DataBuffer buffer;
  buffer.fill(' ');
  const std::string spec = DictionarySpecification(suite_path);
  std::memcpy(buffer.data(), spec.data(), spec.size());
  return buffer;
}

// Shows `message` as the program's last word and ends it (see
// OpenDataFile). Without a terminal (the batch run) the message goes to the
// unattended notice instead of a window that would wait for a key.
void StopWithMessage(const std::string& message, int16_t& status) {
  if (UnattendedNotice() != nullptr) {
    CloseAllDataFiles(status);
    UnattendedNotice()(message);
    StopHandler()();
    return;
  }
  bool shown = MessageBox(12, message);
  platform::Console& console = platform::CurrentConsole();
  console.Beep();
  SetTypeAhead("");
  while (console.PollEvent().kind != platform::InputEvent::Kind::kNone) {
  }
  WaitKey();
  if (shown) PopWindow();
  CloseAllDataFiles(status);
  StopHandler()();
}

void FatalStop(const std::string& file_name, int16_t& status) {
  StopWithMessage(Cp850(TextsForSession().stop_prefix) + file_name + " (" +
                      std::to_string(status) + ")",
                  status);
}

// A file whose records are not those its dictionary describes would be
// read with the wrong layout (another file copied in its place, a file of
// an older version): it is refused. A file without a dictionary that
// describes records completely is taken as it is.
bool MatchesDictionary(FileSlot& slot, const SplitName& split) {
  const std::string spec = DictionarySpecification(DictionaryPath(split));
  const std::span<const uint8_t> described(
      reinterpret_cast<const uint8_t*>(spec.data()), spec.size());
  if (!DescribesRecords(described)) return true;
  return SameRecordLayout(FileStatistics(slot), described);
}

// Opens the file in `slot`, creating it from its dictionary when missing
// (`created` tells).
int16_t OpenOrCreate(FileSlot& slot, const SplitName& split, bool& created) {
  std::string full = split.directory + split.base + split.extension;
  if (full.size() + 1 > kKeyBufferSize) return kStatusInvalidFileName;
  std::array<uint8_t, kKeyBufferSize> name;
  name.fill(' ');
  std::memcpy(name.data(), full.data(), full.size());
  name[full.size()] = 0;

  const std::string owner = DataOwnerName();
  created = false;
  // While another station holds the file, the screen says so from the
  // first wait on (it would otherwise stay blank until the file is free).
  bool box_shown = false;
  struct RemoveBox {
    bool& shown;
    ~RemoveBox() {
      if (shown) PopWindow();
    }
  } remove_box{box_shown};
  for (;;) {
    DataBuffer data{};
    std::memcpy(data.data(), owner.data(), owner.size());
    uint32_t data_length = static_cast<uint32_t>(owner.size() + 1);
    int16_t status = Call(rm::kOpOpen, slot, data.data(), data_length,
                          name.data(), kKeyBufferSize, 0);
    if (status == rm::kStatusFileLocked) {
      if (!box_shown) {
        box_shown = MessageBox(24, Cp850(TextsForSession().locked));
      }
      platform::SleepMilliseconds(kOpenRetryMilliseconds);
      continue;
    }
    // A file still missing right after its creation is not created again.
    if (status != rm::kStatusFileNotFound || created) return status;
    DataBuffer specification = ReadDictionary(DictionaryPath(split));
    uint32_t spec_length = kDataBufferSize;
    status = Call(rm::kOpCreate, slot, specification.data(), spec_length,
                  name.data(), kKeyBufferSize, -1);
    if (status != rm::kStatusOk) return status;
    created = true;
  }
}

}  // namespace

std::string DataOwnerName() {
  // Put together piece by piece so that it never shows as one text.
  constexpr char kPieces[] = {'7', '4', '1', '9'};
  std::string owner;
  for (char piece : kPieces) owner += piece;
  return owner;
}

void OpenDataFile(int16_t handle, const std::string& file_name,
                  uint8_t* record_area, size_t area_size, int16_t& status) {
  int found = FindFileSlot(handle);
  if (found > 0 || handle == 0) {
    status = kStatusHandleOpen;
    return;
  }
  if (found == 0) {
    status = kStatusNoFreeSlot;
    return;
  }
  // The first file of a run decides where the installation's data lives.
  bool any_open = false;
  for (int number = 1; number <= kFileSlotCount && !any_open; ++number) {
    any_open = SlotAt(number)->handle != 0;
  }
  if (!any_open) UseInstallationRecordManager(Session().root_dir);
  FileSlot& slot = *SlotAt(-found);
  ClearSlot(slot);
  slot.handle = handle;
  slot.file_name = file_name;
  slot.record_area = record_area;
  slot.area_size = record_area == nullptr ? 0 : area_size;

  const SplitName split = SplitFileName(file_name);
  bool created = false;
  status = OpenOrCreate(slot, split, created);
  if (status != rm::kStatusOk) {
    ClearSlot(slot);  // nothing was opened
    FatalStop(file_name, status);
    return;
  }
  // A file just made from its dictionary is what the dictionary says.
  if (!created && !MatchesDictionary(slot, split)) {
    const LanguageTexts& texts = TextsForSession();
    StopWithMessage(Cp850(texts.mismatch_prefix) + file_name +
                        Cp850(texts.mismatch_middle) + DictionaryPath(split),
                    status);
    return;
  }
  int16_t key_length = 0;
  int32_t record_length = 0;
  ReadKeyInfo(handle, 0, key_length, record_length);
  slot.record_length = record_length;
  slot.key_value.assign(
      std::min<size_t>(std::max<int16_t>(key_length, 0), kKeyBufferSize), '\0');
  status = rm::kStatusOk;
}

void ReadByKey(int16_t handle, int16_t key_number, std::string key_value,
               int16_t search_mode, int16_t& status) {
  FileSlot* slot = SlotAt(FindFileSlot(handle));
  if (slot == nullptr) {
    status = rm::kStatusNotOpen;
    return;
  }
  int16_t key_length = 0;
  int32_t record_length = 0;
  ReadKeyInfo(handle, key_number, key_length, record_length);
  if (key_length <= 0) {
    status = kStatusNoSuchKey;
    return;
  }
  slot->key_number = key_number;
  key_value.resize(std::min<size_t>(key_length, kKeyBufferSize), '\0');
  slot->key_value = std::move(key_value);
  int16_t operation = search_mode < 0    ? rm::kOpGetLessOrEqual
                      : search_mode == 0 ? rm::kOpGetEqual
                                         : rm::kOpGetGreaterOrEqual;
  status = TurnShortBufferIntoSuccess(ExecuteRead(*slot, operation));
}

void StepRecords(int16_t handle, int16_t count, int16_t& status) {
  FileSlot* slot = SlotAt(FindFileSlot(handle));
  if (slot == nullptr) {
    status = rm::kStatusNotOpen;
    return;
  }
  status = rm::kStatusOk;
  int16_t operation = count >= 0 ? rm::kOpGetNext : rm::kOpGetPrevious;
  int moves = std::abs(static_cast<int>(count));
  // All moves but the last only advance the position.
  while (moves > 1 && status == rm::kStatusOk) {
    DataBuffer scratch;
    scratch.fill(' ');
    uint32_t data_length = kDataBufferSize;
    std::array<uint8_t, kKeyBufferSize> key;
    key.fill(' ');
    std::memcpy(key.data(), slot->key_value.data(),
                std::min(slot->key_value.size(), kKeyBufferSize));
    status = TurnShortBufferIntoSuccess(Call(operation, *slot, scratch.data(),
                                             data_length, key.data(),
                                             kKeyBufferSize, slot->key_number));
    KeepReturnedKey(*slot, key.data());
    StopIfConnectionLost(*slot, status);
    --moves;
  }
  if (moves == 1 && status == rm::kStatusOk) {
    status = TurnShortBufferIntoSuccess(ExecuteRead(*slot, operation));
  }
}

int32_t RecordPosition(int16_t handle, int32_t position) {
  FileSlot* slot = SlotAt(FindFileSlot(handle));
  if (slot == nullptr) return rm::kStatusNotOpen;
  DataBuffer data{};
  std::array<uint8_t, kKeyBufferSize> key;
  key.fill(' ');
  uint32_t data_length = kDataBufferSize;
  if (position == 0) {
    int16_t status = Call(rm::kOpGetPosition, *slot, data.data(), data_length,
                          key.data(), 0, 0);
    StopIfConnectionLost(*slot, status);
    if (status != rm::kStatusOk) return 0;
    return le::LoadI32(data.data());
  }
  le::StoreI32(data.data(), position);
  std::memcpy(key.data(), slot->key_value.data(),
              std::min(slot->key_value.size(), kKeyBufferSize));
  int16_t status = TurnShortBufferIntoSuccess(
      Call(rm::kOpGetDirect, *slot, data.data(), data_length, key.data(),
           kKeyBufferSize, slot->key_number));
  KeepReturnedKey(*slot, key.data());
  if (status == rm::kStatusOk)
    CopyToRecordArea(*slot, data.data(), data_length);
  return StopIfConnectionLost(*slot, status);
}

void SetLockMode(int16_t handle, const std::string& commands, int16_t& status) {
  int number = FindFileSlot(handle);
  FileSlot* slot = SlotAt(number);
  if (slot == nullptr) {
    status = rm::kStatusNotOpen;
    return;
  }
  std::string& stack = LockModeStack();
  for (char command : commands) {
    switch (command) {
      case 'D':
      case 'd':
        slot->lock_mode = kLockNone;
        break;
      case 'A':
      case 'a':
        slot->lock_mode = kLockWait;
        break;
      case 'B':
      case 'b':
        slot->lock_mode = kLockNoWait;
        break;
      case '+':
        stack += static_cast<char>(number);
        stack += static_cast<char>(slot->lock_mode);
        break;
      case '-':
        for (size_t pair = stack.size() / 2; pair-- > 0;) {
          if (static_cast<uint8_t>(stack[2 * pair]) == number) {
            slot->lock_mode = static_cast<uint8_t>(stack[2 * pair + 1]);
            stack.erase(2 * pair, 2);
            break;
          }
        }
        break;
      default:
        break;
    }
  }
}

bool IsNothingMore(int16_t status) {
  return status == rm::kStatusEndOfFile || status == rm::kStatusKeyNotFound;
}

void StopOnReadFailure(int16_t handle, int16_t status) {
  FileSlot* slot = SlotAt(FindFileSlot(handle));
  const std::string name =
      slot != nullptr ? slot->file_name : std::to_string(handle);
  FatalStop(name, status);
}

std::string CurrentKeyImage(int16_t handle) {
  FileSlot* slot = SlotAt(FindFileSlot(handle));
  if (slot == nullptr) return "";
  return KeyImage(slot->key_value, handle);
}

void CloseAllDataFiles(int16_t& status) {
  std::array<uint8_t, platform::kPositionBlockSize> scratch_block;
  scratch_block.fill(' ');
  std::array<uint8_t, kKeyBufferSize> key{};
  uint8_t data = 0;
  uint32_t data_length = 0;
  status = rm::RecordManagerCall(rm::kOpReset, scratch_block.data(), &data,
                                 &data_length, key.data(), 0, 0);
  if (status == rm::kStatusOk) ClearAllSlots();
}

void TEST_SetFatalStopHandler(FatalStopHandler handler) {
  StopHandler() = handler != nullptr ? handler : DefaultFatalStop;
}

void SetUnattendedStop(UnattendedStopNotice notice) {
  UnattendedNotice() = notice;
}

void TEST_ResetAccessLayer() {
  UnattendedNotice() = nullptr;
  ClearAllSlots();
  LockModeStack().clear();
}

}  // namespace tarnevos
