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
  // Set when the new files are in place but something could not be
  // tidied up afterwards (see FileSetSwitch::Commit).
  std::string warning;
};

// Creates the six data files from their dictionaries (written first when
// missing) and fills them from the sources. The six are built in a working
// folder and put in place of ROOT/DADES as one set (keldades/file_set.h):
// after a failure, or a crash at any moment, ROOT/DADES holds the whole
// old set or the whole new one. Returns false only when nothing was
// changed. Programs that have the old files open go on reading them;
// programs that open files meanwhile may open some old and some new ones.
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

// The native path of ROOT/DADES (as spelt on disk when it exists).
std::string DataFolderPath(const std::string& root);
// The path of a data file or dictionary below the root.
std::string DataFilePath(const std::string& root, FileIndex file);
std::string DictionaryPath(const std::string& root, FileIndex file);

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_STORE_H_
