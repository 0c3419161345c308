#include "platform/recordmanager/postgres_connection.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/recordmanager/record_manager.h"

namespace tarnevos::platform {
namespace {

using Clock = std::chrono::steady_clock;

int reply_timeout_ms = kDefaultReplyTimeoutMs;
ServerTraffic traffic;

void StoreBigEndian(char* out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
}

uint64_t LoadBigEndian(const char* in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value = value << 8 | static_cast<uint8_t>(in[i]);
  }
  return value;
}

// libpq prints notices on stderr by default: on the program's screen.
void IgnoreNotice(void*, const char*) {}

// The connection string as libpq's "dbname" expands it: a value that is no
// connection string or URI names a service.
std::string Expandable(const std::string& connection) {
  const bool uri = connection.rfind("postgresql://", 0) == 0 ||
                   connection.rfind("postgres://", 0) == 0;
  if (uri || connection.find('=') != std::string::npos) return connection;
  return "service=" + connection;
}

// The connect timeout in effect for a started connection (what the string,
// a service file or PGCONNECT_TIMEOUT gave), in seconds.
int ConnectTimeout(PGconn* conn) {
  int seconds = kDefaultConnectTimeoutSeconds;
  PQconninfoOption* options = PQconninfo(conn);
  if (options == nullptr) return seconds;
  for (PQconninfoOption* option = options; option->keyword != nullptr;
       ++option) {
    if (std::strcmp(option->keyword, "connect_timeout") == 0 &&
        option->val != nullptr) {
      int value = std::atoi(option->val);
      // 0 means "wait for ever" to libpq: not here.
      if (value > 0) seconds = std::max(value, 2);
    }
  }
  PQconninfoFree(options);
  return seconds;
}

std::string ErrorOf(PGconn* conn) {
  std::string text = conn != nullptr ? PQerrorMessage(conn) : "out of memory";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

}  // namespace

ServerTraffic ServerTrafficSoFar() { return traffic; }

void TEST_SetServerReplyTimeout(int milliseconds) {
  reply_timeout_ms = milliseconds > 0 ? milliseconds : kDefaultReplyTimeoutMs;
}

// ---- Parameters -------------------------------------------------------------

PgParams& PgParams::Bytes(std::string_view bytes) {
  static const char kEmpty = 0;
  values_.push_back(bytes.empty() ? &kEmpty : bytes.data());
  lengths_.push_back(static_cast<int>(bytes.size()));
  formats_.push_back(1);
  return *this;
}

PgParams& PgParams::Int32(int32_t value) {
  std::string& bytes = owned_.emplace_back(4, '\0');
  StoreBigEndian(bytes.data(), static_cast<uint32_t>(value), 4);
  return Bytes(bytes);
}

PgParams& PgParams::Int64(int64_t value) {
  std::string& bytes = owned_.emplace_back(8, '\0');
  StoreBigEndian(bytes.data(), static_cast<uint64_t>(value), 8);
  return Bytes(bytes);
}

PgParams& PgParams::ByteaArray(const std::vector<std::string_view>& items) {
  // The array's binary form: dimensions, a null flag, the element type
  // (bytea, oid 17), length and lower bound of the one dimension, then each
  // element as length and bytes.
  constexpr uint32_t kByteaOid = 17;
  std::string& bytes = owned_.emplace_back();
  size_t total = 20;
  for (std::string_view item : items) total += 4 + item.size();
  bytes.resize(total);
  char* out = bytes.data();
  StoreBigEndian(out, 1, 4);
  StoreBigEndian(out + 4, 0, 4);
  StoreBigEndian(out + 8, kByteaOid, 4);
  StoreBigEndian(out + 12, items.size(), 4);
  StoreBigEndian(out + 16, 1, 4);
  out += 20;
  for (std::string_view item : items) {
    StoreBigEndian(out, item.size(), 4);
    if (!item.empty()) std::memcpy(out + 4, item.data(), item.size());
    out += 4 + item.size();
  }
  return Bytes(bytes);
}

// ---- Results ----------------------------------------------------------------

PgResult::PgResult(pg_result* result, int16_t status)
    : result_(result), status_(status) {}

PgResult::~PgResult() {
  if (result_ != nullptr) PQclear(result_);
}

PgResult::PgResult(PgResult&& other) noexcept
    : result_(other.result_), status_(other.status_) {
  other.result_ = nullptr;
}

PgResult& PgResult::operator=(PgResult&& other) noexcept {
  if (this != &other) {
    if (result_ != nullptr) PQclear(result_);
    result_ = other.result_;
    status_ = other.status_;
    other.result_ = nullptr;
  }
  return *this;
}

std::string_view PgResult::sqlstate() const {
  if (result_ == nullptr) return {};
  const char* state = PQresultErrorField(result_, PG_DIAG_SQLSTATE);
  return state == nullptr ? std::string_view() : std::string_view(state);
}

std::string PgResult::message() const {
  if (result_ == nullptr) return {};
  return PQresultErrorMessage(result_);
}

int PgResult::rows() const {
  return result_ == nullptr ? 0 : PQntuples(result_);
}

bool PgResult::IsNull(int row, int column) const {
  return result_ == nullptr || row >= rows() || column >= PQnfields(result_) ||
         PQgetisnull(result_, row, column);
}

std::string_view PgResult::Bytes(int row, int column) const {
  if (IsNull(row, column)) return {};
  return {PQgetvalue(result_, row, column),
          static_cast<size_t>(PQgetlength(result_, row, column))};
}

int32_t PgResult::Int32(int row, int column) const {
  std::string_view bytes = Bytes(row, column);
  if (bytes.size() != 4) return 0;
  return static_cast<int32_t>(LoadBigEndian(bytes.data(), 4));
}

int64_t PgResult::Int64(int row, int column) const {
  std::string_view bytes = Bytes(row, column);
  if (bytes.size() != 8) return 0;
  return static_cast<int64_t>(LoadBigEndian(bytes.data(), 8));
}

bool PgResult::Bool(int row, int column) const {
  std::string_view bytes = Bytes(row, column);
  return bytes.size() == 1 && bytes[0] != 0;
}

std::string_view PgResult::Text(int row, int column) const {
  return Bytes(row, column);
}

int64_t PgResult::Affected() const {
  if (result_ == nullptr) return 0;
  return std::atoll(PQcmdTuples(result_));
}

// ---- Connection
// ---------------------------------------------------------------

PgConnection::PgConnection(pg_conn* conn) : conn_(conn) {}

PgConnection::~PgConnection() {
  if (conn_ != nullptr) PQfinish(conn_);
}

int16_t PgConnection::Connect(const std::string& connection,
                              std::shared_ptr<PgConnection>* out,
                              std::string* error) {
  // Keywords are taken in order, the last value winning: the defaults come
  // first so that the installation's string overrides them.
  const std::string expandable = Expandable(connection);
  const char* keywords[] = {"fallback_application_name",
                            "connect_timeout",
                            "keepalives",
                            "keepalives_idle",
                            "keepalives_interval",
                            "keepalives_count",
                            "tcp_user_timeout",
                            "dbname",
                            nullptr};
  const std::string timeout = std::to_string(kDefaultConnectTimeoutSeconds);
  const char* values[] = {"tarnevos",
                          timeout.c_str(),
                          "1",
                          kDefaultKeepalivesIdle,
                          kDefaultKeepalivesInterval,
                          kDefaultKeepalivesCount,
                          kDefaultTcpUserTimeoutMs,
                          expandable.c_str(),
                          nullptr};
  PGconn* conn = PQconnectStartParams(keywords, values, 1);
  if (conn == nullptr || PQstatus(conn) == CONNECTION_BAD) {
    *error = ErrorOf(conn);
    if (conn != nullptr) PQfinish(conn);
    return kStatusServerUnreachable;
  }
  const auto deadline =
      Clock::now() + std::chrono::seconds(ConnectTimeout(conn));
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  while (state != PGRES_POLLING_OK) {
    if (state == PGRES_POLLING_FAILED) {
      *error = ErrorOf(conn);
      PQfinish(conn);
      return kStatusServerUnreachable;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - Clock::now());
    pollfd wait{
        PQsocket(conn),
        static_cast<short>(state == PGRES_POLLING_READING ? POLLIN : POLLOUT),
        0};
    int ready =
        left.count() > 0 ? ::poll(&wait, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      *error = "the server did not answer within the connect timeout";
      PQfinish(conn);
      return kStatusServerUnreachable;
    }
    state = PQconnectPoll(conn);
  }
  PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
  if (PQsetnonblocking(conn, 1) != 0) {
    *error = ErrorOf(conn);
    PQfinish(conn);
    return kStatusServerUnreachable;
  }
  if (PQserverVersion(conn) < 110000) {
    *error = "the server is older than PostgreSQL 11";
    PQfinish(conn);
    return kStatusServerUnreachable;
  }
  std::shared_ptr<PgConnection> made(new PgConnection(conn));
  // Names are qualified in every statement; nothing is looked up in a
  // schema a user could write to. A lock another session holds on a table
  // (an administrator's ALTER, say) makes a statement fail after a while
  // instead of waiting for ever.
  PgResult setup = made->Execute(
      "SET search_path = ''; SET lock_timeout = '5s'; "
      "SET idle_in_transaction_session_timeout = '60s'; "
      "SET client_min_messages = warning");
  if (!setup.ok()) {
    *error = setup.message().empty() ? "the connection was lost at setup"
                                     : setup.message();
    return kStatusServerUnreachable;
  }
  *out = std::move(made);
  return kStatusOk;
}

void PgConnection::Break() {
  if (conn_ != nullptr) PQfinish(conn_);
  conn_ = nullptr;
  prepared_.clear();
  if (in_flight_ != nullptr) {
    in_flight_->waiting = false;
    in_flight_->ready = true;
    in_flight_->result = PgResult(nullptr, kStatusConnectionLost);
    in_flight_ = nullptr;
  }
}

void PgConnection::Abandon() {
  // Leaked on purpose: closing would end the parent's session.
  conn_ = nullptr;
  prepared_.clear();
  in_flight_ = nullptr;
}

bool PgConnection::WaitSocket(bool for_write) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline_ - Clock::now());
    if (left.count() <= 0) return false;
    pollfd wait{PQsocket(conn_),
                static_cast<short>(for_write ? POLLIN | POLLOUT : POLLIN), 0};
    int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool PgConnection::Flush() {
  for (;;) {
    int pending = PQflush(conn_);
    if (pending == 0) return true;
    if (pending < 0 || !WaitSocket(true)) return false;
    // The server may be sending while we write: take it in.
    if (PQconsumeInput(conn_) == 0) return false;
  }
}

PgResult PgConnection::Collect() {
  ++traffic.round_trips;
  PgResult outcome;
  bool have = false;
  for (;;) {
    while (PQisBusy(conn_)) {
      if (!WaitSocket(false) || PQconsumeInput(conn_) == 0) {
        Break();
        return PgResult(nullptr, kStatusConnectionLost);
      }
    }
    PGresult* result = PQgetResult(conn_);
    if (result == nullptr) break;
    ExecStatusType kind = PQresultStatus(result);
    const bool fine = kind == PGRES_COMMAND_OK || kind == PGRES_TUPLES_OK ||
                      kind == PGRES_EMPTY_QUERY;
    if (kind == PGRES_COPY_IN || kind == PGRES_COPY_OUT ||
        kind == PGRES_COPY_BOTH) {
      // Never expected here: a COPY left open would wedge the connection.
      PQclear(result);
      Break();
      return PgResult(nullptr, kStatusConnectionLost);
    }
    // The server shutting down or ending this session (SQLSTATE class 57P)
    // is the connection going away, whatever comes after it.
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    if (state != nullptr && std::strncmp(state, "57P", 3) == 0) {
      PQclear(result);
      Break();
      return PgResult(nullptr, kStatusConnectionLost);
    }
    traffic.rows += static_cast<uint64_t>(PQntuples(result));
    // Keep the first failure, else the last result.
    if (!have || outcome.ok()) {
      outcome =
          PgResult(result, fine ? int16_t{kStatusOk} : int16_t{kStatusIoError});
      have = true;
    } else {
      PQclear(result);
    }
  }
  DrainNotifications();
  if (PQstatus(conn_) == CONNECTION_BAD) {
    Break();
    return PgResult(nullptr, kStatusConnectionLost);
  }
  if (!have) return PgResult(nullptr, kStatusIoError);
  return outcome;
}

const std::string* PgConnection::Prepared(const std::string& sql,
                                          PgResult* failure) {
  auto known = prepared_.find(sql);
  if (known != prepared_.end()) return &known->second;
  std::string name = "tv" + std::to_string(prepared_.size() + 1);
  deadline_ = Clock::now() + std::chrono::milliseconds(reply_timeout_ms);
  if (PQsendPrepare(conn_, name.c_str(), sql.c_str(), 0, nullptr) == 0 ||
      !Flush()) {
    Break();
    *failure = PgResult(nullptr, kStatusConnectionLost);
    return nullptr;
  }
  PgResult prepared = Collect();
  if (!prepared.ok()) {
    *failure = std::move(prepared);
    return nullptr;
  }
  return &prepared_.emplace(sql, std::move(name)).first->second;
}

PgResult PgConnection::Run(const std::string& sql, const PgParams& params) {
  Settle();
  if (broken()) return PgResult(nullptr, kStatusConnectionLost);
  PgResult failure;
  const std::string* name = Prepared(sql, &failure);
  if (name == nullptr) return failure;
  deadline_ = Clock::now() + std::chrono::milliseconds(reply_timeout_ms);
  if (PQsendQueryPrepared(conn_, name->c_str(), params.size(), params.values(),
                          params.lengths(), params.formats(), 1) == 0 ||
      !Flush()) {
    Break();
    return PgResult(nullptr, kStatusConnectionLost);
  }
  return Collect();
}

bool PgConnection::RunAhead(const std::string& sql, const PgParams& params,
                            PendingReply* into) {
  Settle();
  if (broken()) return false;
  PgResult failure;
  const std::string* name = Prepared(sql, &failure);
  if (name == nullptr) return false;
  deadline_ = Clock::now() + std::chrono::milliseconds(reply_timeout_ms);
  if (PQsendQueryPrepared(conn_, name->c_str(), params.size(), params.values(),
                          params.lengths(), params.formats(), 1) == 0 ||
      !Flush()) {
    Break();
    return false;
  }
  into->waiting = true;
  into->ready = false;
  in_flight_ = into;
  return true;
}

void PgConnection::Settle() {
  if (in_flight_ == nullptr) return;
  PendingReply* into = in_flight_;
  in_flight_ = nullptr;
  // The reply may have been asked for long ago: its wait starts now.
  deadline_ = Clock::now() + std::chrono::milliseconds(reply_timeout_ms);
  PgResult result = Collect();
  into->waiting = false;
  into->ready = true;
  into->result = std::move(result);
}

void PgConnection::Forget(PendingReply* into) {
  if (in_flight_ == into) Settle();
  into->waiting = false;
  into->ready = false;
  into->result = PgResult();
}

PgResult PgConnection::RunOnce(const std::string& sql, const PgParams& params) {
  Settle();
  if (broken()) return PgResult(nullptr, kStatusConnectionLost);
  deadline_ = Clock::now() + std::chrono::milliseconds(reply_timeout_ms);
  if (PQsendQueryParams(conn_, sql.c_str(), params.size(), nullptr,
                        params.values(), params.lengths(), params.formats(),
                        1) == 0 ||
      !Flush()) {
    Break();
    return PgResult(nullptr, kStatusConnectionLost);
  }
  return Collect();
}

PgResult PgConnection::Execute(const std::string& sql) {
  Settle();
  if (broken()) return PgResult(nullptr, kStatusConnectionLost);
  deadline_ = Clock::now() + std::chrono::milliseconds(reply_timeout_ms);
  if (PQsendQuery(conn_, sql.c_str()) == 0 || !Flush()) {
    Break();
    return PgResult(nullptr, kStatusConnectionLost);
  }
  return Collect();
}

PgResult PgConnection::CopyIn(const std::string& sql, std::string_view data) {
  Settle();
  if (broken()) return PgResult(nullptr, kStatusConnectionLost);
  deadline_ = Clock::now() + std::chrono::milliseconds(reply_timeout_ms);
  if (PQsendQuery(conn_, sql.c_str()) == 0 || !Flush()) {
    Break();
    return PgResult(nullptr, kStatusConnectionLost);
  }
  // The server answers COPY_IN, or an error (and then nothing more).
  while (PQisBusy(conn_)) {
    if (!WaitSocket(false) || PQconsumeInput(conn_) == 0) {
      Break();
      return PgResult(nullptr, kStatusConnectionLost);
    }
  }
  PGresult* start = PQgetResult(conn_);
  if (start == nullptr || PQresultStatus(start) != PGRES_COPY_IN) {
    PgResult failure(start, kStatusIoError);
    // Read on to the end of this command.
    PgResult rest = Collect();
    if (rest.status() == kStatusConnectionLost) return rest;
    return failure;
  }
  PQclear(start);
  constexpr size_t kChunk = 256 * 1024;
  for (size_t at = 0; at < data.size();) {
    const size_t size = std::min(kChunk, data.size() - at);
    deadline_ = Clock::now() + std::chrono::milliseconds(reply_timeout_ms);
    int sent = PQputCopyData(conn_, data.data() + at, static_cast<int>(size));
    if (sent < 0) {
      Break();
      return PgResult(nullptr, kStatusConnectionLost);
    }
    if (sent == 0 || !Flush()) {
      // Queue full: wait until it drains, then try the same chunk again.
      if (!WaitSocket(true) || PQconsumeInput(conn_) == 0) {
        Break();
        return PgResult(nullptr, kStatusConnectionLost);
      }
      continue;
    }
    at += size;
  }
  deadline_ = Clock::now() + std::chrono::milliseconds(reply_timeout_ms);
  for (;;) {
    int ended = PQputCopyEnd(conn_, nullptr);
    if (ended < 0) {
      Break();
      return PgResult(nullptr, kStatusConnectionLost);
    }
    if (ended == 1) break;
    if (!WaitSocket(true)) {
      Break();
      return PgResult(nullptr, kStatusConnectionLost);
    }
  }
  if (!Flush()) {
    Break();
    return PgResult(nullptr, kStatusConnectionLost);
  }
  return Collect();
}

bool PgConnection::Watch(const std::string& channel, const uint64_t** count) {
  Watched& watched = channels_[channel];
  *count = &watched.count;
  return ++watched.watchers == 1;
}

bool PgConnection::Unwatch(const std::string& channel) {
  auto found = channels_.find(channel);
  if (found == channels_.end()) return false;
  if (--found->second.watchers > 0) return false;
  channels_.erase(found);
  return true;
}

void PgConnection::DrainNotifications() {
  if (conn_ == nullptr) return;
  while (PGnotify* notify = PQnotifies(conn_)) {
    // Also this session's own commits: another open of the same file
    // through this connection must not go on with what it read before.
    auto found = channels_.find(notify->relname);
    if (found != channels_.end()) ++found->second.count;
    PQfreemem(notify);
  }
}

void PgConnection::Poll() {
  if (conn_ == nullptr) return;
  const auto now = Clock::now();
  if (now - last_poll_ < kNotificationPollInterval) return;
  last_poll_ = now;
  // One look at the socket: nothing there (the usual case) costs one
  // system call. A server that ended the session sends its reason and
  // closes; libpq takes the reason for a notice, so the end of the stream
  // is looked for after reading what came.
  for (int look = 0; look < 2; ++look) {
    char byte = 0;
    const ssize_t peeked =
        ::recv(PQsocket(conn_), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked == 0) {
      Break();
      return;
    }
    if (peeked < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      Break();
      return;
    }
    if (PQconsumeInput(conn_) == 0 || PQstatus(conn_) == CONNECTION_BAD) {
      Break();
      return;
    }
  }
  // Notifications that follow a reply sent ahead are read only with the
  // rest of that reply: take it in once it is complete.
  if (in_flight_ != nullptr && !PQisBusy(conn_)) Settle();
  if (conn_ != nullptr) DrainNotifications();
}

}  // namespace tarnevos::platform
