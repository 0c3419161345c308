#include "keldades/store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "data/access_layer.h"
#include "data/data_files.h"
#include "data/data_server.h"
#include "data/key_spec.h"
#include "keldades/file_set.h"
#include "keldades/records.h"
#include "platform/recordmanager/record_manager.h"
#include "platform/system/paths.h"
#include "util/little_endian.h"

namespace tarnevos::keldades {
namespace {

namespace fs = std::filesystem;
namespace rm = platform;

constexpr size_t kBufferSize = 1536;
constexpr size_t kKeySize = 255;
// Records handed to the record manager per transaction.
constexpr size_t kBatchRecords = 20000;

std::string StatusText(int16_t status) {
  struct Known {
    int16_t status;
    const char* meaning;
  };
  static constexpr Known kKnown[] = {
      {1, "invalid operation"},      {2, "input/output error"},
      {3, "file not open"},          {5, "duplicate key"},
      {12, "file not found"},        {20, "server unreachable"},
      {22, "data buffer too short"}, {30, "not a data file"},
      {59, "file exists"},           {84, "record locked"},
      {85, "file locked (in use)"},  {95, "connection to the server lost"},
  };
  std::string text = "record manager status " + std::to_string(status);
  for (const Known& known : kKnown) {
    if (known.status == status) text += std::string(" (") + known.meaning + ")";
  }
  return text;
}

// A key buffer holding a file name.
bool NameBuffer(const std::string& path, std::array<uint8_t, kKeySize>& key,
                std::string& error) {
  if (path.size() + 1 > kKeySize) {
    error = path + ": the path is longer than the record manager accepts";
    return false;
  }
  key.fill(' ');
  std::memcpy(key.data(), path.data(), path.size());
  key[path.size()] = 0;
  return true;
}

// One data file open through the record manager; closed when it goes.
class OpenFile {
 public:
  OpenFile() = default;
  ~OpenFile() { Close(); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  // `exclusive`: no other program may have the file open, nor open it
  // until it is closed (85 otherwise).
  int16_t Open(const std::string& path, bool exclusive = false) {
    std::array<uint8_t, kKeySize> key;
    std::string ignored;
    if (!NameBuffer(path, key, ignored)) return rm::kStatusFileNotFound;
    std::array<uint8_t, kBufferSize> data{};
    std::string owner = DataOwnerName();
    std::memcpy(data.data(), owner.data(), owner.size());
    uint32_t length = static_cast<uint32_t>(owner.size() + 1);
    block_.fill(0);
    int16_t status =
        rm::RecordManagerCall(rm::kOpOpen, block_.data(), data.data(), &length,
                              key.data(), kKeySize, exclusive ? -4 : 0);
    open_ = status == rm::kStatusOk;
    return status;
  }
  int16_t Close() {
    if (!open_) return rm::kStatusOk;
    open_ = false;
    std::array<uint8_t, kKeySize> key{};
    uint8_t data = 0;
    uint32_t length = 0;
    return rm::RecordManagerCall(rm::kOpClose, block_.data(), &data, &length,
                                 key.data(), 0, 0);
  }
  // Reads into `data` (kBufferSize bytes); the record's length comes back
  // in `length`.
  int16_t Read(int16_t operation, uint8_t* data, uint32_t& length) {
    std::array<uint8_t, kKeySize> key{};
    length = kBufferSize;
    return rm::RecordManagerCall(operation, block_.data(), data, &length,
                                 key.data(), kKeySize, 0);
  }
  int16_t InsertMany(const std::string& records, size_t record_length,
                     uint32_t& failed) {
    failed = 0;
    return rm::CurrentRecordManager().InsertMany(
        block_.data(), reinterpret_cast<const uint8_t*>(records.data()),
        static_cast<uint32_t>(record_length),
        static_cast<uint32_t>(records.size() / record_length), 0, &failed);
  }

 private:
  std::array<uint8_t, rm::kPositionBlockSize> block_{};
  bool open_ = false;
};

bool WriteWholeFile(const std::string& path, const std::string& bytes,
                    std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = path + ": cannot be written";
    return false;
  }
  return true;
}

bool MakeDirectory(const std::string& path, std::string& error) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec || !fs::is_directory(path, ec)) {
    error = path + ": cannot create the folder (" + ec.message() + ")";
    return false;
  }
  return true;
}

// The creation specification from the file's dictionary, which must
// describe records of the layout's length.
bool DictionarySpecification(const std::string& root, FileIndex file,
                             std::string& spec, std::string& error) {
  std::string path = DictionaryPath(root, file);
  std::string bytes;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 && errno == ENOENT &&
      !WriteDictionaries(root, error)) {
    return false;
  }
  if (!ReadUserFile(path, bytes, error)) return false;
  if (bytes.size() < 2) {
    error = path + ": too short for a dictionary";
    return false;
  }
  const int length = le::LoadI16(bytes.data());
  if (length < 16 || static_cast<size_t>(length) > kBufferSize ||
      bytes.size() < 2u + length) {
    error = path + ": the length word does not match the file";
    return false;
  }
  spec = bytes.substr(2, length);
  std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(spec.data()),
                                spec.size());
  const FileLayout& layout = LayoutOf(file);
  if (RecordLengthOf(view) != static_cast<int32_t>(layout.record_length)) {
    error = path + ": describes records of " +
            std::to_string(RecordLengthOf(view)) + " bytes; " + layout.name +
            " records are " + std::to_string(layout.record_length);
    return false;
  }
  return true;
}

// The file names of the set, as in the data folder.
std::vector<std::string> SetNames() {
  std::vector<std::string> names;
  for (int file = 0; file < kFileCount; ++file) {
    names.push_back(std::string(LayoutOf(static_cast<FileIndex>(file)).name) +
                    ".dat");
  }
  return names;
}

// Removes a data file through the record manager; a missing one is fine.
void RemoveDataFile(const std::string& path) {
  rm::CurrentRecordManager().RemoveFile(path);
}

// Where a server load builds a file before the set is switched.
std::string TemporaryPath(const std::string& final_path) {
  return final_path + ".keldades-new";
}

// The message of a set that could not be put in place.
std::string ReplaceError(const std::string& root, int16_t status) {
  return root + "DADES: the files cannot be replaced: " + StatusText(status) +
         (status == rm::kStatusFileLocked ? " (close every program using them)"
                                          : "");
}

// Status 85 when another program has one of the installation's six files
// open (opening it exclusively for a moment tells), otherwise 0.
int16_t CheckSetNotInUse(const std::string& root) {
  for (int file = 0; file < kFileCount; ++file) {
    OpenFile probe;
    if (probe.Open(DataFilePath(root, static_cast<FileIndex>(file)), true) ==
        rm::kStatusFileLocked) {
      return rm::kStatusFileLocked;
    }
  }
  return rm::kStatusOk;
}

// Builds one file at `temporary`, in the folder of the new set.
bool BuildFile(const std::string& root, FileIndex file,
               const std::string& temporary, RecordSource& source,
               uint64_t& count, std::string& error) {
  const FileLayout& layout = LayoutOf(file);
  std::string spec;
  if (!DictionarySpecification(root, file, spec, error)) return false;
  std::array<uint8_t, kKeySize> name;
  if (!NameBuffer(temporary, name, error)) return false;

  std::array<uint8_t, kBufferSize> data;
  data.fill(' ');
  std::memcpy(data.data(), spec.data(), spec.size());
  uint32_t length = kBufferSize;
  std::array<uint8_t, rm::kPositionBlockSize> block{};
  int16_t status =
      rm::RecordManagerCall(rm::kOpCreate, block.data(), data.data(), &length,
                            name.data(), kKeySize, 0);
  if (status != rm::kStatusOk) {
    error = temporary + ": cannot be created: " + StatusText(status);
    return false;
  }
  OpenFile open;
  status = open.Open(temporary);
  if (status != rm::kStatusOk) {
    error = temporary + ": cannot be opened: " + StatusText(status);
    return false;
  }
  std::string batch;
  bool more = true;
  count = 0;
  while (more) {
    batch.clear();
    std::string source_error;
    more = source(batch, source_error);
    if (!source_error.empty()) {
      error = source_error;
      return false;
    }
    if (batch.size() % layout.record_length != 0) {
      error = std::string(layout.name) + ": a record of the wrong length";
      return false;
    }
    for (size_t start = 0; start < batch.size();) {
      size_t bytes =
          std::min(batch.size() - start, kBatchRecords * layout.record_length);
      uint32_t failed = 0;
      status = open.InsertMany(batch.substr(start, bytes), layout.record_length,
                               failed);
      if (status != rm::kStatusOk) {
        error = std::string(layout.name) + ": record " +
                std::to_string(count + failed + 1) +
                " cannot be written: " + StatusText(status);
        return false;
      }
      count += bytes / layout.record_length;
      start += bytes;
    }
  }
  status = open.Close();
  if (status != rm::kStatusOk) {
    error = temporary + ": cannot be closed: " + StatusText(status);
    return false;
  }
  return true;
}

}  // namespace

bool ReadUserFile(const std::string& path, std::string& bytes,
                  std::string& error) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    error = path + ": cannot be read (" + std::strerror(errno) + ")";
    if (fd >= 0) ::close(fd);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    error = path + ": is a folder, not a file";
    ::close(fd);
    return false;
  }
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0)
        error = path + ": cannot be read (" + std::strerror(errno) + ")";
      ::close(fd);
      if (n < 0) bytes.clear();
      return n == 0;
    }
  }
}

std::string RootPath(std::string_view root) {
  std::string path(root.empty() ? "." : root);
  if (path.back() != '/') path += '/';
  return path;
}

std::string DataFolderPath(const std::string& root) {
  return platform::NativePath(root + "DADES");
}

std::string DataFilePath(const std::string& root, FileIndex file) {
  return platform::NativePath(root + "DADES\\" + LayoutOf(file).name + ".dat");
}

std::string DictionaryPath(const std::string& root, FileIndex file) {
  return platform::NativePath(root + "ddf\\" + LayoutOf(file).name + ".xdf");
}

bool WriteDictionaries(const std::string& root, std::string& error) {
  if (!MakeDirectory(platform::NativePath(root + "ddf"), error)) return false;
  for (int file = 0; file < kFileCount; ++file) {
    auto index = static_cast<FileIndex>(file);
    if (!WriteWholeFile(DictionaryPath(root, index),
                        DictionaryBytes(LayoutOf(index)), error)) {
      return false;
    }
  }
  return true;
}

namespace {

// The set as files under ROOT/DADES: built in a working folder that is
// then exchanged with the data folder.
bool WriteFileInstallation(const std::string& root,
                           std::array<RecordSource, kFileCount>& sources,
                           WriteCounts& counts, std::string& error) {
  if (!MakeDirectory(platform::NativePath(root), error)) return false;
  const std::vector<std::string> names = SetNames();
  FileSetSwitch files;
  if (!files.Begin(DataFolderPath(root), names, error)) return false;
  // A failure from here on abandons the new set with the switch.
  for (int file = 0; file < kFileCount; ++file) {
    if (!BuildFile(root, static_cast<FileIndex>(file),
                   files.working_folder() + "/" + names[file], sources[file],
                   counts.records[file], error)) {
      return false;
    }
  }
  // A program writing one of the old files would lose its writes with
  // them. (One that opens a file from here to the exchange still may.)
  const int16_t status = CheckSetNotInUse(root);
  if (status != rm::kStatusOk) {
    error = ReplaceError(root, status);
    return false;
  }
  return files.Commit(counts.warning, error);
}

// The set as tables on a server: built under temporary names, then all
// six renamed over the old ones in one transaction.
bool WriteServerInstallation(const std::string& root,
                             std::array<RecordSource, kFileCount>& sources,
                             WriteCounts& counts, std::string& error) {
  std::vector<rm::FileMove> moves;
  for (int file = 0; file < kFileCount; ++file) {
    const std::string final_path =
        DataFilePath(root, static_cast<FileIndex>(file));
    moves.push_back({TemporaryPath(final_path), final_path});
  }
  auto discard = [&moves] {
    for (const rm::FileMove& move : moves) RemoveDataFile(move.from);
  };
  for (int file = 0; file < kFileCount; ++file) {
    // What a killed load left under the temporary name goes first.
    RemoveDataFile(moves[file].from);
    if (!BuildFile(root, static_cast<FileIndex>(file), moves[file].from,
                   sources[file], counts.records[file], error)) {
      discard();
      return false;
    }
  }
  const int16_t status = rm::CurrentRecordManager().ReplaceFiles(moves);
  if (status == rm::kStatusOk) return true;
  error = ReplaceError(root, status);
  if (status == rm::kStatusConnectionLost) {
    // The commit may have been made before the connection went. The
    // temporary tables tell, once connected again: the transaction renamed
    // all of them or none.
    int16_t found;
    {
      OpenFile probe;
      found = probe.Open(moves[0].from);
    }
    if (found == rm::kStatusFileNotFound) {
      counts.warning =
          "the connection to the server was lost as the load ended; the "
          "server had already put the new files in place";
      return true;
    }
    if (found == rm::kStatusServerUnreachable ||
        found == rm::kStatusConnectionLost) {
      error = root +
              "DADES: the connection to the server was lost while the new "
              "files were being put in place, and the server cannot be "
              "reached to tell whether they are";
      counts.outcome_unknown = true;
      return false;
    }
  }
  discard();
  return false;
}

}  // namespace

bool WriteInstallation(const std::string& root,
                       std::array<RecordSource, kFileCount>& sources,
                       WriteCounts& counts, std::string& error) {
  counts = WriteCounts{};
  return InstallationServer(root)
             ? WriteServerInstallation(root, sources, counts, error)
             : WriteFileInstallation(root, sources, counts, error);
}

int CleanDataLeftovers(const std::string& root) {
  return CleanLeftovers(DataFolderPath(root), SetNames());
}

bool WriteRecordSet(const std::string& root, const RecordSet& records,
                    WriteCounts& counts, std::string& error) {
  std::array<RecordSource, kFileCount> sources;
  for (int file = 0; file < kFileCount; ++file) {
    sources[file] = [&records, file](std::string& batch, std::string&) {
      for (const std::string& record : records.files[file]) batch += record;
      return false;
    };
  }
  return WriteInstallation(root, sources, counts, error);
}

bool DataFileExists(const std::string& root, FileIndex file) {
  OpenFile open;
  return open.Open(DataFilePath(root, file)) != rm::kStatusFileNotFound;
}

bool ReadRecords(const std::string& root, FileIndex file,
                 const std::function<void(std::string_view)>& each,
                 std::string& error) {
  std::string path = DataFilePath(root, file);
  OpenFile open;
  int16_t status = open.Open(path);
  if (status == rm::kStatusFileNotFound) return true;
  if (status != rm::kStatusOk) {
    error = path + ": cannot be opened: " + StatusText(status);
    return false;
  }
  std::array<uint8_t, kBufferSize> data;
  uint32_t length = 0;
  status = open.Read(rm::kOpGetFirst, data.data(), length);
  while (status == rm::kStatusOk) {
    each(std::string_view(reinterpret_cast<const char*>(data.data()),
                          std::min<size_t>(length, kBufferSize)));
    status = open.Read(rm::kOpGetNext, data.data(), length);
  }
  if (status != rm::kStatusEndOfFile) {
    error = path + ": reading stopped: " + StatusText(status);
    return false;
  }
  return true;
}

}  // namespace tarnevos::keldades
