// Arbitrary bytes as the program's form file, read through ReadFormFile in a
// scratch installation whose language file translates a few texts. A file
// is either refused with a message or gives tables that keep their own
// rules; no input may crash the reader or make it allocate without bound.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "console/form_table.h"
#include "report/form_file.h"
#include "settings/run_values.h"
#include "settings/session.h"

namespace {

using namespace tarnevos;

std::string MakeRoot() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "tarnevos-fuzz-XXXXXX")
          .string();
  const char* made = ::mkdtemp(pattern.data());
  const std::string root = std::string(made == nullptr ? "." : made) + "/";
  std::filesystem::create_directories(root + "FORMS");
  std::filesystem::create_directories(root + "LOCALE");
  std::ofstream(root + "LOCALE/TARNEVOS.LNG", std::ios::binary)
      << "\"A\",\"a\",\"b\",\"c\"\r\n\"|N,No|S,Si\",x,y,\"|N,No|S,Si\"\r\n";
  return root;
}

const std::string& Root() {
  static const std::string root = [] {
    const std::string made = MakeRoot();
    TEST_MutableSession().root_dir = made;
    TEST_MutableSession().language = "SPA";
    MutableRun().program_id = "TARNEVOS";
    return made;
  }();
  return root;
}

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// The rules the form screen relies on.
void CheckTables() {
  const FormTables& tables = Forms();
  Check(tables.form_count >= 1 && tables.form_count <= kMaxFormCount);
  Check(tables.max_fields >= 0 && tables.max_fields <= kMaxFieldsPerForm);
  Check(static_cast<int>(tables.forms.size()) == tables.form_count + 1);
  for (const FormDef& form : tables.forms) {
    Check(form.field_count >= 0 && form.field_count <= tables.max_fields);
    Check(form.next_form >= 0 && form.next_form <= tables.form_count);
    Check(static_cast<int>(form.fields.size()) == tables.max_fields + 1);
    for (const FieldDef& field : form.fields) {
      Check(field.length >= 0 && field.length <= kMaxFieldLength);
      Check(static_cast<int>(field.value.size()) == field.length);
      Check(field.width >= 0);
    }
  }
  Check(tables.lookup_count >= 0 && tables.lookup_count <= kMaxLookupCount);
  if (!tables.lookup_attr.empty()) {
    Check(static_cast<int>(tables.lookup_attr.size()) ==
          tables.lookup_count + 1);
    Check(tables.lookup_text.size() == tables.lookup_attr.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = Root();
  {
    std::ofstream out(root + "FORMS/TARNEVOS.KPN",
                      std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data),
              static_cast<std::streamsize>(size));
  }
  std::string error;
  if (ReadFormFile(&error)) {
    CheckTables();
  } else {
    Check(!error.empty());
    Check(Forms().form_count == 0 && Forms().forms.empty());
  }
  return 0;
}
