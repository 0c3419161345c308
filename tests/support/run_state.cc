#include "support/run_state.h"

#include "console/field_editor.h"
#include "console/form_screen.h"
#include "console/form_table.h"
#include "console/keyboard.h"
#include "console/windows.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "data/lookup_list.h"
#include "platform/console/memory_console.h"
#include "platform/recordmanager/record_manager.h"
#include "platform/system/files.h"
#include "platform/system/system.h"
#include "print/print_file.h"
#include "report/report_form.h"
#include "report/settlement.h"
#include "settings/ini_reader.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos::testing {

void ResetRunState() {
  // Files first: closing them may still write or call the record manager.
  TEST_ResetPrintFile();
  TEST_ResetAccessLayer();
  Areas() = RecordAreas{};
  platform::TEST_ResetRecordManager();
  TEST_SetFatalStopHandler(nullptr);

  TEST_ResetSession();
  TEST_ResetRun();
  TEST_ResetOversizedFile();
  TEST_ResetDateSettings();
  TEST_ResetNumberState();
  TEST_ResetTextState();

  TEST_ResetFormTables();
  TEST_ResetFormScreen();
  TEST_ResetParameters();
  ResetWorkTables();
  TEST_ResetLookupList();
  TEST_ResetWindows();
  TEST_ResetKeyboard();
  TEST_ResetFieldEditor();

  platform::TEST_ResetConsole();
  platform::TEST_SetToday(std::nullopt);
  platform::TEST_SetSleeper(nullptr);
  platform::TEST_SetProgramRunner(nullptr);
  platform::TEST_SetFileSystem(nullptr);
}

}  // namespace tarnevos::testing
