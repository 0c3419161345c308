#include "data/data_server.h"

#include "settings/ini_reader.h"

namespace tarnevos {
namespace {

std::string Trimmed(std::string text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<platform::ServerSettings> InstallationServer(
    const std::string& root_dir) {
  const std::string settings = root_dir + "Orvo.ini";
  std::string connection = Trimmed(ReadSetting(settings, "Dades", "Servidor"));
  if (connection.empty()) return std::nullopt;
  platform::ServerSettings server;
  server.connection = std::move(connection);
  server.schema = Trimmed(ReadSetting(settings, "Dades", "Esquema"));
  server.root = root_dir;
  return server;
}

void UseInstallationRecordManager(const std::string& root_dir) {
  platform::SelectProcessEngine(InstallationServer(root_dir));
}

}  // namespace tarnevos
