#ifndef TARNEVOS_PLATFORM_SYSTEM_PATHS_H_
#define TARNEVOS_PLATFORM_SYSTEM_PATHS_H_

#include <string>
#include <string_view>

namespace tarnevos::platform {

// The suite builds paths by plain concatenation with "\" separators
// (RootDir + "DADES\THRebut"). NativePath turns such a path into the one to
// hand to the operating system, at the moment a file is opened, created or
// deleted or a program started:
//  - "\" becomes "/";
//  - when the exact path does not exist, each component that is missing with
//    that spelling is looked up case-insensitively (ASCII letters) in its
//    directory, so that installations copied from other systems
//    ("dades/threbut.dat", "Orvo.INI") are found. A component that matches
//    nothing keeps its spelling, so a new file is created as named.
// Never fails; an empty text stays empty.
std::string NativePath(std::string_view suite_path);

// Makes the directory named by a suite path the current one. Returns false
// when it cannot.
bool ChangeDirectory(std::string_view suite_path);

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_SYSTEM_PATHS_H_
