// Two processes on one data file: readers go on while another process
// writes, and see whole records only; exclusive holders lock others out.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/recordmanager/engine_fixture.h"
#include "platform/recordmanager/record_manager.h"
#include "platform/recordmanager/test_files.h"

namespace tarnevos::platform {
namespace {

using record_test::EngineFixture;
using record_test::FileClient;
using record_test::MakeSpec;
using record_test::Reply;

// Records of 1000 bytes: a 4-byte code (key 0) and 996 bytes that a writer
// always fills with one repeated byte, so a torn record shows.
constexpr uint16_t kLength = 1000;

std::string Code(int i) { return "R" + std::to_string(1000 + i).substr(1); }

std::string Filled(int i, char fill) {
  return Code(i) + std::string(kLength - 4, fill);
}

bool Whole(const std::string& record) {
  if (record.size() != kLength) return false;
  return record.find_first_not_of(record[4], 4) == std::string::npos;
}

// A one-way channel of single bytes between the two processes.
class Channel {
 public:
  Channel() {
    if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~Channel() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  void Send(char byte) { (void)!::write(fds_[1], &byte, 1); }
  // The next byte, or 0 after `timeout_ms` without one.
  char Receive(int timeout_ms = 20000) {
    pollfd wait{fds_[0], POLLIN, 0};
    if (::poll(&wait, 1, timeout_ms) != 1) return 0;
    char byte = 0;
    return ::read(fds_[0], &byte, 1) == 1 ? byte : 0;
  }
  bool Ready() {
    pollfd wait{fds_[0], POLLIN, 0};
    return ::poll(&wait, 1, 0) == 1;
  }

 private:
  int fds_[2];
};

// Runs `body` in a child process; its result is the child's exit code.
pid_t Spawn(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

int ExitCode(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class SharingTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    path_ = dir_.path() + "shared.dat";
    auto engine = NewEngine();
    FileClient creator(*engine);
    ASSERT_EQ(creator.Create(path_, MakeSpec(kLength, {{{1, 4}}})), kStatusOk);
    ASSERT_EQ(creator.Open(path_), kStatusOk);
    for (int i = 0; i < 100; ++i) {
      ASSERT_EQ(creator.Insert(Filled(i, 'a')), kStatusOk);
    }
    // Closed again: no connection may be open when the test forks.
  }

  // In a child: inserts the record of code R900 and leaves the transaction
  // open, as a writer of another program would, until told to commit.
  int UnfinishedWrite(Channel& to_child, Channel& to_parent) {
    return server() ? UnfinishedServerWrite(to_child, to_parent)
                    : UnfinishedSqliteWrite(to_child, to_parent);
  }
  int UnfinishedSqliteWrite(Channel& to_child, Channel& to_parent);
  int UnfinishedServerWrite(Channel& to_child, Channel& to_parent);

  std::string path_;
};

int SharingTest::UnfinishedSqliteWrite(Channel& to_child, Channel& to_parent) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK) return 1;
  sqlite3_stmt* insert = nullptr;
  std::string record = Filled(900, 'u');
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) !=
          SQLITE_OK ||
      sqlite3_prepare_v2(db,
                         "INSERT INTO records(position, data, key0) "
                         "VALUES (900, ?1, CAST('R900' AS BLOB))",
                         -1, &insert, nullptr) != SQLITE_OK) {
    return 2;
  }
  sqlite3_bind_blob(insert, 1, record.data(), kLength, SQLITE_STATIC);
  if (sqlite3_step(insert) != SQLITE_DONE) return 2;
  sqlite3_finalize(insert);
  to_parent.Send('w');
  if (to_child.Receive() != 'c') return 3;
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return 4;
  }
  sqlite3_close(db);
  to_parent.Send('d');
  return 0;
}

int SharingTest::UnfinishedServerWrite(Channel& to_child, Channel& to_parent) {
  PGconn* conn = PQconnectdb(test_server_->conninfo.c_str());
  if (PQstatus(conn) != CONNECTION_OK) return 1;
  auto run = [conn](const std::string& sql) {
    PGresult* result = PQexec(conn, sql.c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK ||
                    PQresultStatus(result) == PGRES_TUPLES_OK;
    PQclear(result);
    return ok;
  };
  // The engine's writers take the file's datafiles row first.
  const std::string schema = schema_->name();
  const std::string record = Filled(900, 'u');
  std::string hex;
  for (unsigned char c : record) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  if (!run("BEGIN") ||
      !run("SELECT 1 FROM " + schema +
           ".datafiles WHERE name = 'shared.dat' FOR UPDATE") ||
      !run("DO $$ BEGIN EXECUTE format('INSERT INTO " + schema +
           ".records_%s (position, data, key0) VALUES (900, "
           "decode(''" +
           hex +
           "'', ''hex''), ''R900''::bytea)', (SELECT id "
           "FROM " +
           schema + ".datafiles WHERE name = 'shared.dat')); END $$")) {
    return 2;
  }
  to_parent.Send('w');
  if (to_child.Receive() != 'c') return 3;
  if (!run("COMMIT")) return 4;
  PQfinish(conn);
  to_parent.Send('d');
  return 0;
}

TEST_P(SharingTest, ReadersSeeWholeRecordsWhileAnotherProcessWrites) {
  Channel started, stop;
  pid_t writer = Spawn([&] {
    auto engine = NewEngine();
    FileClient client(*engine);
    if (client.Open(path_) != kStatusOk) return 1;
    started.Send('s');
    for (int round = 0; !stop.Ready(); ++round) {
      char fill = static_cast<char>('b' + round % 20);
      for (int i = 0; i < 100; i += 3) {
        if (client.Get(kOpGetEqual, Code(i)).status != kStatusOk) return 2;
        int16_t status =
            client.Call(kOpUpdate, Filled(i, fill), "", 0, kLength).status;
        if (status != kStatusOk && status != kStatusRecordLocked) return 3;
      }
      // Records come and go between the others.
      int16_t status = client.Insert(Code(100 + round % 50) +
                                     std::string(kLength - 4, fill));
      if (status == kStatusDuplicateKey) {
        client.Get(kOpGetEqual, Code(100 + round % 50));
        status = client.Call(kOpDelete, "").status;
      }
      if (status != kStatusOk && status != kStatusRecordLocked) return 4;
    }
    return 0;
  });
  ASSERT_EQ(started.Receive(), 's');

  auto engine = NewEngine();
  FileClient reader(*engine);
  ASSERT_EQ(reader.Open(path_), kStatusOk);
  int walks = 0, torn = 0, disorder = 0, changes_seen = 0;
  char last_fill = 'a';
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < until) {
    std::string previous;
    int count = 0;
    for (Reply r = reader.Step(kOpGetFirst); r.status == kStatusOk;
         r = reader.Step(kOpGetNext)) {
      if (!Whole(r.data)) ++torn;
      if (!previous.empty() && r.data.substr(0, 4) <= previous) ++disorder;
      previous = r.data.substr(0, 4);
      ++count;
    }
    EXPECT_GE(count, 100);
    Reply r = reader.Get(kOpGetEqual, Code(0));
    ASSERT_EQ(r.status, kStatusOk);
    if (!Whole(r.data)) ++torn;
    if (r.data[4] != last_fill) ++changes_seen;
    last_fill = r.data[4];
    ++walks;
  }
  stop.Send('x');
  EXPECT_EQ(ExitCode(writer), 0);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(disorder, 0);
  EXPECT_GT(walks, 3);
  EXPECT_GT(changes_seen, 1) << "the writer never got through";
}

TEST_P(SharingTest, ExclusiveOpenLocksOtherProcessesOut) {
  Channel to_child, to_parent;
  pid_t child = Spawn([&] {
    auto engine = NewEngine();
    FileClient client(*engine);
    if (client.Open(path_) != kStatusOk) return 1;
    to_parent.Send('o');  // open normally
    if (to_child.Receive() != 'c') return 2;
    client.Call(kOpClose, "");
    to_parent.Send('c');
    if (to_child.Receive() != 'x') return 3;  // parent holds it now
    FileClient second(*engine);
    if (second.Open(path_) != kStatusFileLocked) return 4;
    to_parent.Send('l');
    if (to_child.Receive() != 'r') return 5;
    if (second.Open(path_) != kStatusOk) return 6;
    if (second.Get(kOpGetEqual, Code(7)).data != Filled(7, 'z')) return 7;
    return 0;
  });
  auto engine = NewEngine();
  FileClient client(*engine);
  ASSERT_EQ(to_parent.Receive(), 'o');
  // Someone else has it open: no exclusive access.
  EXPECT_EQ(client.Open(path_, -4), kStatusFileLocked);
  // Overwriting it is refused as well.
  EXPECT_EQ(client.Create(path_, MakeSpec(kLength, {{{1, 4}}}), 0),
            kStatusFileLocked);
  to_child.Send('c');
  ASSERT_EQ(to_parent.Receive(), 'c');
  ASSERT_EQ(client.Open(path_, -4), kStatusOk);
  ASSERT_EQ(client.Get(kOpGetEqual, Code(7)).status, kStatusOk);
  ASSERT_EQ(client.Call(kOpUpdate, Filled(7, 'z'), "", 0, kLength).status,
            kStatusOk);
  EXPECT_EQ(client.Get(kOpGetEqual, Code(7)).data, Filled(7, 'z'));
  to_child.Send('x');
  EXPECT_EQ(to_parent.Receive(), 'l');
  EXPECT_EQ(client.Call(kOpClose, "").status, kStatusOk);
  to_child.Send('r');
  EXPECT_EQ(ExitCode(child), 0);
}

TEST_P(SharingTest, AnUnfinishedWriteElsewhereIsInvisibleAndBlocksWriters) {
  Channel to_child, to_parent;
  pid_t child = Spawn([&] { return UnfinishedWrite(to_child, to_parent); });
  ASSERT_EQ(to_parent.Receive(), 'w');
  auto engine = NewEngine();
  FileClient client(*engine);
  ASSERT_EQ(client.Open(path_), kStatusOk);
  EXPECT_EQ(client.Get(kOpGetEqual, "R900").status, kStatusKeyNotFound);
  EXPECT_EQ(client.Insert(Filled(500, 'q')), kStatusRecordLocked);
  EXPECT_EQ(client.Get(kOpGetEqual, Code(3)).status, kStatusOk);
  EXPECT_EQ(client.Call(kOpDelete, "").status, kStatusRecordLocked);
  EXPECT_EQ(client.Step(kOpGetLast).data, Filled(99, 'a'));
  EXPECT_EQ(client.Step(kOpGetNext).status, kStatusEndOfFile);
  to_child.Send('c');
  ASSERT_EQ(to_parent.Receive(), 'd');
  EXPECT_EQ(ExitCode(child), 0);
  SeeOtherCommits(*engine);
  // Committed now: visible, also to the next step from the last record.
  EXPECT_EQ(client.Step(kOpGetNext).data, Filled(900, 'u'));
  EXPECT_EQ(client.Get(kOpGetEqual, "R900").status, kStatusOk);
  EXPECT_EQ(client.Insert(Filled(500, 'q')), kStatusOk);
}

TEST_P(SharingTest, FilesOpenedBeforeAForkAreNotUsedByTheChild) {
  auto engine = NewEngine();
  FileClient client(*engine);
  ASSERT_EQ(client.Open(path_), kStatusOk);
  ASSERT_EQ(client.Step(kOpGetFirst).status, kStatusOk);
  pid_t child = Spawn([&] {
    if (client.Step(kOpGetNext).status != kStatusNotOpen) return 1;
    // Letting the engine go must not close the parent's connection.
    engine.reset();
    return 0;
  });
  EXPECT_EQ(ExitCode(child), 0);
  EXPECT_EQ(client.Step(kOpGetNext).data, Filled(1, 'a'));
  EXPECT_EQ(client.Insert(Filled(200, 'n')), kStatusOk);
  EXPECT_EQ(client.Step(kOpGetLast).data, Filled(200, 'n'));
}

INSTANTIATE_TEST_SUITE_P(Engines, SharingTest,
                         ::testing::ValuesIn(record_test::kEngineKinds),
                         record_test::EngineName);

}  // namespace
}  // namespace tarnevos::platform
