#ifndef TARNEVOS_TOOLS_KELDADES_NEW_INSTALLATION_H_
#define TARNEVOS_TOOLS_KELDADES_NEW_INSTALLATION_H_

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "keldades/store.h"

// keldades new ROOT [DATASET.json] [--language CAT|SPA|GLG|OCI]
//                   [--templates DIR]
//
// Lays out a complete installation that runs as it is: the installation
// templates (Orvo.ini, the form, language and help files, the dictionaries)
// copied from share/tarnevos, the language written into Orvo.ini, and the
// six data files, empty or loaded from a dataset with the checks of `load`.
// It never touches a folder that already holds an installation's files.
namespace tarnevos::keldades {

struct NewInstallationRequest {
  std::string root;           // the new installation's folder, as given
  std::string dataset_path;   // "" for empty data files
  std::string language;       // "CAT", "SPA", "GLG", "OCI"; "" as templated
  std::string templates_dir;  // a folder of templates, ending with "/"
};

// The files a set of templates must hold, relative to its folder.
const std::vector<std::string>& RequiredTemplateFiles();

// Where the installed templates are looked for, best first: share/tarnevos
// beside the program's folder as installed, the configured installation
// prefix's, and the build tree's. Each ends with "/".
std::vector<std::string> TemplateFolders();

// The first folder that holds every required template file; "" when none
// does, with the folders looked at in `error`.
std::string FindTemplates(const std::vector<std::string>& folders,
                          std::string& error);

// The files of an installation (the templates' files, Orvo.ini among them,
// and the six data files) that `root` already holds, relative and sorted;
// names are matched without regard to case, as the program matches them.
std::vector<std::string> ExistingInstallationFiles(
    const std::string& root, const std::string& templates_dir);

// The text of a settings file with `key` of `section` set to `value`: the
// first such key line of the first such section gets the new value (its
// line end kept); a missing key is added after the section's header, a
// missing section at the end. Names match without regard to case.
std::string WithSetting(std::string_view text, std::string_view section,
                        std::string_view key, std::string_view value);

// Makes the installation. The dataset is read and checked first; nothing
// is written when it is bad, when the templates are incomplete or when the
// folder already holds an installation's files. A failure after writing
// began removes what was written. Returns false with the reason in
// `error`; on success `written` lists the files laid out (relative) and
// `counts` the records loaded.
bool MakeNewInstallation(const NewInstallationRequest& request,
                         std::vector<std::string>& written, WriteCounts& counts,
                         std::string& error);

// The command: arguments after "new". Exit code 0 done, 1 failed (message
// on `err`), 64 bad usage.
int NewCommand(const std::vector<std::string>& arguments, std::ostream& out,
               std::ostream& err);

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_NEW_INSTALLATION_H_
