#ifndef TARNEVOS_DATA_DATA_SERVER_H_
#define TARNEVOS_DATA_DATA_SERVER_H_

#include <optional>
#include <string>

#include "platform/recordmanager/record_manager.h"

// Where an installation keeps its data files. Orvo.ini in the root
// directory, section [Dades]:
//   Servidor=  a libpq connection string ("host=... dbname=..."), a
//              postgresql:// URI or a service name of pg_service.conf; the
//              data files are then tables on that PostgreSQL server. Empty
//              or absent: the SQLite files under DADES, as always.
//   Esquema=   the schema of the installation's tables; default "tarnevos".
// Passwords never belong here: libpq finds them in ~/.pgpass, PGPASSFILE
// or the service file.
namespace tarnevos {

// The server `root_dir` + "Orvo.ini" names, or nullopt for the files.
std::optional<platform::ServerSettings> InstallationServer(
    const std::string& root_dir);

// Makes the process's record manager the one the installation names
// (keeping it, and the files it has open, when it already is).
void UseInstallationRecordManager(const std::string& root_dir);

}  // namespace tarnevos

#endif  // TARNEVOS_DATA_DATA_SERVER_H_
