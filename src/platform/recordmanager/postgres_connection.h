#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_POSTGRES_CONNECTION_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_POSTGRES_CONNECTION_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct pg_conn;
struct pg_result;

// One connection to a PostgreSQL server through libpq, as the server engine
// uses it: statements with binary parameters and results, COPY into a
// table, notifications, and never a wait without end. The socket is
// non-blocking and every wait for the server has a deadline: a server that
// does not answer in time, or whose connection drops, leaves the
// connection broken, and everything asked of it afterwards fails at once
// with status 95.
namespace tarnevos::platform {

// Limits applied unless the connection string sets them: seconds to make
// the connection, and TCP keepalives (probe after 30 s idle, every 10 s, 3
// lost probes end it) and the time sent data may stay unacknowledged.
constexpr int kDefaultConnectTimeoutSeconds = 10;
constexpr const char* kDefaultKeepalivesIdle = "30";
constexpr const char* kDefaultKeepalivesInterval = "10";
constexpr const char* kDefaultKeepalivesCount = "3";
constexpr const char* kDefaultTcpUserTimeoutMs = "30000";
// How long a statement's reply may take before the connection counts as
// lost.
constexpr int kDefaultReplyTimeoutMs = 30000;
// A notification that reached the socket is noticed at the next use of a
// cache at least this long after the previous look (each look is a
// system call; within the interval the engine does not look).
constexpr std::chrono::microseconds kNotificationPollInterval{1000};

// Binary parameters of one statement.
class PgParams {
 public:
  PgParams& Bytes(std::string_view bytes);
  PgParams& Int32(int32_t value);
  PgParams& Int64(int64_t value);
  // A one-dimensional bytea[] of `items`.
  PgParams& ByteaArray(const std::vector<std::string_view>& items);

  int size() const { return static_cast<int>(values_.size()); }
  const char* const* values() const { return values_.data(); }
  const int* lengths() const { return lengths_.data(); }
  const int* formats() const { return formats_.data(); }

 private:
  std::vector<const char*> values_;
  std::vector<int> lengths_;
  std::vector<int> formats_;
  std::deque<std::string> owned_;  // stable addresses for built values
};

// The outcome of one statement: its rows (binary unless run as plain SQL)
// and a status: 0, 95 when the connection is gone, otherwise 2 with the
// server's SQLSTATE to tell the failure apart.
class PgResult {
 public:
  PgResult() = default;
  PgResult(pg_result* result, int16_t status);
  ~PgResult();
  PgResult(PgResult&& other) noexcept;
  PgResult& operator=(PgResult&& other) noexcept;
  PgResult(const PgResult&) = delete;
  PgResult& operator=(const PgResult&) = delete;

  int16_t status() const { return status_; }
  bool ok() const { return status_ == 0; }
  // Five characters, or empty when the server sent none.
  std::string_view sqlstate() const;
  std::string message() const;

  int rows() const;
  bool IsNull(int row, int column) const;
  std::string_view Bytes(int row, int column) const;
  // Binary int4, int8, bool columns; plain-SQL (text) results use Text.
  int32_t Int32(int row, int column) const;
  int64_t Int64(int row, int column) const;
  bool Bool(int row, int column) const;
  std::string_view Text(int row, int column) const;
  // Rows a data-changing statement touched.
  int64_t Affected() const;

 private:
  pg_result* result_ = nullptr;
  int16_t status_ = 0;
};

// The reply of a statement sent ahead of need (PgConnection::RunAhead):
// `waiting` while it is on its way, then `ready` with its result.
struct PendingReply {
  bool waiting = false;
  bool ready = false;
  PgResult result;
};

class PgConnection {
 public:
  // Connects with `connection` (a libpq connection string, URI or service
  // name; see ServerSettings). Status 0 and *out set, or 20 with *error.
  static int16_t Connect(const std::string& connection,
                         std::shared_ptr<PgConnection>* out,
                         std::string* error);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  bool broken() const { return conn_ == nullptr; }

  // A statement prepared once per connection (by its text), then run with
  // binary parameters and binary results.
  PgResult Run(const std::string& sql, const PgParams& params = PgParams());
  // A statement run once without preparing it; binary results.
  PgResult RunOnce(const std::string& sql, const PgParams& params = PgParams());
  // Plain SQL (several statements allowed, no parameters, text results):
  // the first failure, or the last result.
  PgResult Execute(const std::string& sql);
  // COPY ... FROM STDIN with `data` as its whole input.
  PgResult CopyIn(const std::string& sql, std::string_view data);

  // Sends a prepared statement like Run without waiting for its reply, so
  // that the server works on it while the caller works on something else.
  // One such statement is on its way at a time: the reply is collected
  // into `into` (which must outlive it or be given to Forget) before the
  // connection sends anything else, or by Settle. False (and nothing sent)
  // when another statement is on its way or the connection is broken.
  bool RunAhead(const std::string& sql, const PgParams& params,
                PendingReply* into);
  // Collects the reply on its way, if any, into its PendingReply.
  void Settle();
  // Collects and drops the reply on its way into `into`, if that is it.
  void Forget(PendingReply* into);

  // Counts the notifications sent on `channel` from now on (also those of
  // this session's own commits);
  // the count lives as long as the connection. Returns whether this is the
  // first watcher (the caller then LISTENs).
  bool Watch(const std::string& channel, const uint64_t** count);
  // Returns whether that was the last watcher (the caller then UNLISTENs).
  bool Unwatch(const std::string& channel);
  // Reads notifications that have reached the socket, at most once per
  // kNotificationPollInterval; a socket found closed breaks the
  // connection.
  void Poll();

  // In a child process after fork(): never close this connection (it is
  // the parent's) and treat it as broken.
  void Abandon();

 private:
  explicit PgConnection(pg_conn* conn);
  // Sends what libpq has queued; false when the connection broke.
  bool Flush();
  // Collects the results of the statement sent last.
  PgResult Collect();
  // Waits for the socket until the reply deadline; false on timeout or
  // failure.
  bool WaitSocket(bool for_write);
  void Break();
  void DrainNotifications();

  // Prepares `sql` once; its statement name, or nullptr after a failure
  // (*failure set).
  const std::string* Prepared(const std::string& sql, PgResult* failure);

  pg_conn* conn_;
  PendingReply* in_flight_ = nullptr;
  std::chrono::steady_clock::time_point deadline_;
  std::chrono::steady_clock::time_point last_poll_;
  std::unordered_map<std::string, std::string> prepared_;  // text -> name
  struct Watched {
    uint64_t count = 0;
    int watchers = 0;
  };
  std::unordered_map<std::string, Watched> channels_;
};

// What this process's server connections have done so far: replies waited
// for and rows received (benchmarks count a piece of work's traffic).
struct ServerTraffic {
  uint64_t round_trips = 0;
  uint64_t rows = 0;
};
ServerTraffic ServerTrafficSoFar();

// Makes a reply that takes longer than `milliseconds` break the connection
// (tests; 0 restores the default).
void TEST_SetServerReplyTimeout(int milliseconds);

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_POSTGRES_CONNECTION_H_
