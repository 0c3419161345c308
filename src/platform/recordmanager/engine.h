#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_ENGINE_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_ENGINE_H_

#include <memory>

#include "platform/recordmanager/record_manager.h"
#include "platform/recordmanager/storage.h"

namespace tarnevos::platform {

// The record manager over a storage: the table of open files, the position
// blocks that name them, the read-ahead along key paths and the cache of
// get-equal answers (key_path_cache.h). Every engine of the record manager
// is this one over its own storage.
std::unique_ptr<RecordManager> MakeEngine(std::unique_ptr<Storage> storage);

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_ENGINE_H_
