#ifndef TARNEVOS_TOOLS_KELDADES_STORE_H_
#define TARNEVOS_TOOLS_KELDADES_STORE_H_

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "keldades/dataset.h"

// The data tool's side of the files: dictionaries under ROOT/ddf and data
// files under ROOT/DADES, written and read through the record manager.
namespace tarnevos::keldades {

// The root directory as given on the command line, ending with "/".
std::string RootPath(std::string_view root);

// Writes ROOT/ddf/<name>.xdf for the six files (creating the folders).
bool WriteDictionaries(const std::string& root, std::string& error);

// Produces one file's records in key order, a batch at a time: appends
// whole records (each exactly the file's record length) to `batch` and
// returns false once it has nothing more to give. It may set `error` and
// return false to abandon the whole installation.
using RecordSource =
    std::function<bool(std::string& batch, std::string& error)>;

struct WriteCounts {
  std::array<uint64_t, kFileCount> records{};
  // Set when a failed switch of the set may have been made after all (see
  // WriteInstallation).
  bool outcome_unknown = false;
  // Set when the new files are in place but something could not be
  // tidied up afterwards (see FileSetSwitch::Commit).
  std::string warning;
};

// Creates the six data files from their dictionaries (written first when
// missing) and fills them from the sources, in the installation's record
// manager (SQLite files, or the server its Orvo.ini names), as one set:
// after a failure, or a crash at any moment, the installation holds the
// whole old set or the whole new one.
// - Files: the six are built in a working folder and put in place of
//   ROOT/DADES by exchanging the folders (keldades/file_set.h).
// - Server: the six are built as tables under temporary names and put in
//   place in one transaction.
// A file another program has open is not replaced (record manager status
// 85, nothing changed); programs that open files while the set is being
// switched may still open some old and some new ones. Returns false when
// the new set is not in place: then nothing was changed, except when
// `counts.outcome_unknown` is set (the server's connection was lost while
// it committed and could not be made again to tell).
bool WriteInstallation(const std::string& root,
                       std::array<RecordSource, kFileCount>& sources,
                       WriteCounts& counts, std::string& error);

// Removes what killed loads left beside ROOT/DADES (see CleanLeftovers);
// returns how many leftovers were removed.
int CleanDataLeftovers(const std::string& root);

// The whole of a regular file named by the user. False, with `error`
// naming the file and the reason (missing, a folder, unreadable).
bool ReadUserFile(const std::string& path, std::string& bytes,
                  std::string& error);

// Writes a validated record set (see ParseDataset).
bool WriteRecordSet(const std::string& root, const RecordSet& records,
                    WriteCounts& counts, std::string& error);

// Calls `each` with every record of the file in key order. A file that
// does not exist gives no records and no error.
bool ReadRecords(const std::string& root, FileIndex file,
                 const std::function<void(std::string_view)>& each,
                 std::string& error);

// Whether the data file is there in the installation's record manager: a
// file under ROOT/DADES, or a table on the server its Orvo.ini names. A
// file that is there but cannot be opened (damaged, locked, the server out
// of reach) counts as there: reading it tells what is wrong.
bool DataFileExists(const std::string& root, FileIndex file);

// The native path of ROOT/DADES (as spelt on disk when it exists).
std::string DataFolderPath(const std::string& root);
// The path of a data file or dictionary below the root.
std::string DataFilePath(const std::string& root, FileIndex file);
std::string DictionaryPath(const std::string& root, FileIndex file);

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_STORE_H_
