#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_POSTGRES_STORAGE_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_POSTGRES_STORAGE_H_

#include <memory>
#include <string>
#include <string_view>

#include "platform/recordmanager/record_manager.h"
#include "platform/recordmanager/storage.h"

// The data files of an installation as tables on a PostgreSQL server, all
// in the installation's schema (readable with psql):
//
//   datafiles(id, name, spec, next_position): one row per data file; name
//     is the file's path below the installation's root, "\" written "/",
//     folded to lower case ("dades/threbut.dat"); spec the creation
//     specification exactly as given (what stat returns).
//   records_<id>(position bigint primary key, data bytea, key0 bytea, ...):
//     the records; keyN holds the record's image of key N, whose plain
//     byte order is the key's order, with an index records_<id>_keyN on
//     (keyN, position). A statement trigger notifies channel
//     tarnevos_<table oid> on every change, whoever makes it.
//   tarnevos_changed(): the trigger function.
//
// One connection per engine serves every file it opens. Each read is one
// statement in its own snapshot (autocommit); no transaction stays open
// between calls. Opening a file takes a session advisory lock on it (shared,
// or exclusive for open mode -4); a lock that cannot be had is status 85 at
// once. Writes lock the file's datafiles row without waiting (84 when
// another session is writing the file), so writers of one file take turns
// as with SQLite. The engine learns of other sessions' commits by LISTEN on
// each open file's channel: notifications are read off the socket before
// cached records are used (at most once a millisecond, without a round
// trip) and arrive with every reply.
namespace tarnevos::platform {

std::unique_ptr<Storage> MakePostgresStorage(const ServerSettings& server);

// The table name a data file gets below `root`: "\" becomes "/", ASCII
// letters are folded to lower case, the root's own path is taken off the
// front, and bytes outside printable ASCII (and "%") are written %xx
// (lower-case hexadecimal). Empty for an empty name.
std::string ServerFileName(std::string_view name, std::string_view root);

// The schema name to use for `schema` (folded to lower case, the default
// when empty), or empty when it is not a plain identifier.
std::string ServerSchemaName(std::string_view schema);

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_POSTGRES_STORAGE_H_
