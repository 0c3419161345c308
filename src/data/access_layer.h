#ifndef TARNEVOS_DATA_ACCESS_LAYER_H_
#define TARNEVOS_DATA_ACCESS_LAYER_H_

#include <cstddef>
#include <cstdint>
#include <string>

// The record-manager access layer: the only user of RecordManagerCall. Files
// are named by caller-chosen handles and kept in a table of 40 slots; every
// successful read copies the record into the caller's record area.
namespace tarnevos {

// The layer's own statuses, besides the record manager's.
constexpr int16_t kStatusHandleOpen = 1002;
constexpr int16_t kStatusNoFreeSlot = 1003;
constexpr int16_t kStatusNoSuchKey = 1004;

// Opens a data file (name without extension: ".dat" is added) into the
// highest free slot. A missing file is created from RootDir + "ddf\" + base
// name + ".xdf". Returns with status 0, 1002 or 1003; any other outcome
// shows the stop message and ends the program (exit code 0).
// `record_area` must stay valid while the file is open; no read copies more
// than `area_size` bytes into it.
void OpenDataFile(int16_t handle, const std::string& file_name,
                  uint8_t* record_area, size_t area_size, int16_t& status);

// Reads the record that a key value locates: search mode < 0 less or equal,
// 0 equal, > 0 greater or equal. Status 3 not open, 1004 no such key.
void ReadByKey(int16_t handle, int16_t key_number, std::string key_value,
               int16_t search_mode, int16_t& status);

// Moves |count| records along the current key path (next for count >= 0,
// previous for count < 0); only the last one fills the record area.
void StepRecords(int16_t handle, int16_t count, int16_t& status);

// Position 0: the physical position of the current record (0 on failure).
// Other positions: reads that record into the record area; returns the
// status.
int32_t RecordPosition(int16_t handle, int32_t position);

// Lock-mode commands: D none, A lock and wait, B lock without waiting,
// + save, - restore.
void SetLockMode(int16_t handle, const std::string& commands, int16_t& status);

// True for the record manager's answers that mean "nothing more" to a
// reading loop: end of file (9) and key not found (4). With success (0)
// these are the only outcomes of a read that are not a failure.
bool IsNothingMore(int16_t status);

// Shows the stop message for the file open on `handle` with `status` (the
// file as it was named at open, or the handle's number when it is not
// open) and ends the program as a failed open does: a key press, the files
// closed, exit code 0. For a read that failed where the caller cannot go
// on without giving a wrong result.
void StopOnReadFailure(int16_t handle, int16_t status);

// Key image of the file's current key value; "" when not open.
std::string CurrentKeyImage(int16_t handle);

// Closes every file (record manager reset); clears the table on success.
void CloseAllDataFiles(int16_t& status);

// The owner name every data file of the installation is opened with (four
// digits); the data tool opens the files it writes with the same.
std::string DataOwnerName();

// A run without a terminal (the batch report) cannot show the stop message
// and wait for a key. With a notice set, a fatal stop closes the files and
// hands the message (CP850) to the notice instead, which is expected to end
// the program with an exit code of its own; nullptr restores the message.
using UnattendedStopNotice = void (*)(const std::string& message);
void SetUnattendedStop(UnattendedStopNotice notice);

// How the program ends after the stop message; tests replace it so the
// fatal stop can be observed. The default closes the files, restores the
// console and calls std::exit(0).
using FatalStopHandler = void (*)();
void TEST_SetFatalStopHandler(FatalStopHandler handler);
// Empties the slot table and the lock-mode stack (tests).
void TEST_ResetAccessLayer();

}  // namespace tarnevos

#endif  // TARNEVOS_DATA_ACCESS_LAYER_H_
