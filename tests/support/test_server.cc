#include "support/test_server.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tarnevos::testing {

std::optional<TestServer> SharedTestServer(std::string* why) {
  const char* given = std::getenv("TARNEVOS_TEST_SERVER");
  const std::string state = given != nullptr && *given != '\0'
                                ? std::string(given)
                                : std::string(TARNEVOS_TEST_SERVER_DEFAULT);
  std::ifstream in(state);
  if (!in) {
    *why = "no test PostgreSQL cluster (" + state +
           " is missing): run the tests through ctest, which starts the "
           "cluster they share, or start one with tests/support/"
           "pg_cluster.sh start " +
           state;
    return std::nullopt;
  }
  TestServer server;
  std::string line;
  while (std::getline(in, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (name == "conninfo") server.conninfo = value;
    if (name == "tcp") server.tcp = value;
    if (name == "passfile") server.passfile = value;
    if (name == "bin") server.bin = value;
    if (name == "dir") server.dir = value;
    if (name == "port") server.port = std::atoi(value.c_str());
  }
  if (server.conninfo.empty()) {
    *why = "no connection in " + state;
    return std::nullopt;
  }
  return server;
}

std::optional<std::vector<std::string>> ServerQuery(const std::string& sql,
                                                    std::string* error) {
  std::string why;
  std::optional<TestServer> server = SharedTestServer(&why);
  if (!server) {
    *error = why;
    return std::nullopt;
  }
  PGconn* conn = PQconnectdb(server->conninfo.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    *error = PQerrorMessage(conn);
    PQfinish(conn);
    return std::nullopt;
  }
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  PGresult* result = PQexec(conn, sql.c_str());
  std::optional<std::vector<std::string>> rows;
  ExecStatusType status = PQresultStatus(result);
  if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
    rows.emplace();
    for (int row = 0; row < PQntuples(result); ++row) {
      rows->push_back(PQgetvalue(result, row, 0));
    }
  } else {
    *error = PQresultErrorMessage(result);
  }
  PQclear(result);
  PQfinish(conn);
  return rows;
}

ScratchSchema::ScratchSchema() {
  static std::atomic<int> counter{0};
  name_ =
      "test_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

ScratchSchema::~ScratchSchema() {
  std::string ignored;
  ServerQuery("DROP SCHEMA IF EXISTS " + name_ + " CASCADE", &ignored);
}

}  // namespace tarnevos::testing
