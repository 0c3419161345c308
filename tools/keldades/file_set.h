#ifndef TARNEVOS_TOOLS_KELDADES_FILE_SET_H_
#define TARNEVOS_TOOLS_KELDADES_FILE_SET_H_

#include <string>
#include <vector>

// Replaces the data files of an installation as one set: a reader (or a
// crash, or a failure) finds either the whole old set or the whole new one,
// never a mix.
//
// The new files are built in a working folder beside the data folder
// (ROOT/DADES.keldades-<pid> next to ROOT/DADES); when all are complete
// and on disk, one renameat2(RENAME_EXCHANGE) swaps the two folders. The
// old set, now under the working name, is then removed. Files of the data
// folder that are not part of the set (other programs' data) stay where
// they are: they are hard-linked into the new folder before the swap, and
// whatever could not be linked or appeared meanwhile is moved back right
// after it.
//
// A working folder belongs to the process that holds the lock on its lock
// file (the folder's name + ".lock"). The folder of a load that was killed
// is recognised by its unlocked lock file and removed by the next load, or
// by any start of the data tool (CleanLeftovers); before the swap it holds
// only new files, after it the old ones, so nothing left over is ever
// mistaken for the installation's data, which is only ever in the data
// folder itself.
//
// The exchange needs a local Linux file system (ext4, xfs, btrfs, tmpfs);
// where it is not available (some network file systems) the switch fails
// and nothing is changed.
namespace tarnevos::keldades {

class FileSetSwitch {
 public:
  FileSetSwitch() = default;
  // Abandons a switch that was begun but not committed: the working folder
  // and its lock file are removed.
  ~FileSetSwitch();
  FileSetSwitch(const FileSetSwitch&) = delete;
  FileSetSwitch& operator=(const FileSetSwitch&) = delete;

  // Cleans the leftovers of killed switches, then makes a working folder
  // beside `data_folder` (a native path; it need not exist yet) for the set
  // of files `names` ("THRebut.dat", ...; their journals "-wal", "-shm"
  // and "-journal" belong to them). False, with `error` set, when that
  // cannot be done.
  bool Begin(const std::string& data_folder,
             const std::vector<std::string>& names, std::string& error);

  // The folder the new set is to be built in (after Begin).
  const std::string& working_folder() const { return working_; }

  // Puts the working folder's files in place of the data folder's. Returns
  // false when the switch could not be made: then
  // nothing in the data folder has changed, and `error` says why. Returns
  // true once the new set is in place; `warning` is then set when
  // something could not be tidied up afterwards (the old set left in the
  // working folder, a file of another program left there).
  bool Commit(std::string& warning, std::string& error);

  // Removes the working folder and its lock (nothing is changed in the
  // data folder). Called by the destructor when not committed.
  void Abandon();

 private:
  std::string data_folder_;
  std::vector<std::string> names_;
  std::string working_;
  std::string lock_path_;
  int lock_fd_ = -1;
  bool committed_ = false;
};

// Removes what killed switches left beside `data_folder`: working folders
// whose lock is not held (a folder holding the old set gives back the
// files of other programs the data folder lacks first), their lock files,
// and the temporary files of the data tool's earlier versions
// (DADES/<name>.keldades-new). Folders of running switches are left
// alone. Returns how many leftovers were removed.
int CleanLeftovers(const std::string& data_folder,
                   const std::vector<std::string>& names);

// Tests: makes the n-th file-system operation of the switches from now on
// (1-based) fail with an I/O error; 0 turns the failure off. Returns how
// many operations were made since the previous call.
int TEST_FailFileSetOperation(int n);

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_FILE_SET_H_
