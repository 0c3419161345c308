#ifndef TARNEVOS_TESTS_SUPPORT_TEST_SERVER_H_
#define TARNEVOS_TESTS_SUPPORT_TEST_SERVER_H_

#include <optional>
#include <string>
#include <vector>

// The PostgreSQL cluster the tests share: tests/support/pg_cluster.sh starts
// it before the tests and stops it after them (CTest fixture "pg_cluster").
// Its state file is pg_cluster.state in the build directory, or the file
// TARNEVOS_TEST_SERVER names. Each test works in a schema of its own.
namespace tarnevos::testing {

struct TestServer {
  std::string conninfo;  // over the private Unix socket, no password
  std::string tcp;       // over 127.0.0.1; the password is in `passfile`
  std::string passfile;  // for PGPASSFILE
  std::string bin;       // the server's programs
  std::string dir;       // the cluster's folder (socket directory)
  int port = 0;
};

// The shared server, or nullopt with `why` set when there is none (tests
// that need it are then skipped; under ctest it is always there).
std::optional<TestServer> SharedTestServer(std::string* why);

// Runs plain SQL on the test server as its administrator; the rows of the
// last statement's first column, or nullopt with *error set.
std::optional<std::vector<std::string>> ServerQuery(const std::string& sql,
                                                    std::string* error);

// A fresh schema name for one test (not created: the engine makes it);
// the schema is dropped with everything in it when the object goes.
class ScratchSchema {
 public:
  ScratchSchema();
  ~ScratchSchema();
  ScratchSchema(const ScratchSchema&) = delete;
  ScratchSchema& operator=(const ScratchSchema&) = delete;

  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

}  // namespace tarnevos::testing

#endif  // TARNEVOS_TESTS_SUPPORT_TEST_SERVER_H_
