// The form file loader over arbitrary bytes: the loaded tables must be safe
// for the console kit (and the module's start-up check) to walk, i.e. every
// field a form's count announces is one the set holds, and a field's value
// has the field's length.
#include <cstddef>
#include <cstdint>
#include <string>

#include "console/form_set.h"
#include "driver/form_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  console::FormSet set;
  // A translation that changes the text's length, as a real one does.
  driver::ParseFormFile(
      bytes, [](const std::string& t) { return t.empty() ? t : t + "*"; }, &set);
  // The module's start-up check walks any set the loader makes.
  (void)driver::CheckModuleForms(set);

  for (int form = 1; form <= set.form_count(); ++form) {
    const console::FormDef& f = set.forms[static_cast<size_t>(form)];
    for (int field = 1; field <= f.field_count; ++field) FUZZ_CHECK(set.HasField(form, field));
    for (int field = 1; field < static_cast<int>(f.fields.size()); ++field) {
      const console::FieldDef& d = set.Field(form, field);
      const int16_t length = d.attr[console::kFieldLength];
      FUZZ_CHECK(d.value.size() == (length > 0 ? static_cast<size_t>(length) : 0u));
      set.SetValue(form, field, "X");
    }
  }
  FUZZ_CHECK(set.Value(0, 1).empty());
  FUZZ_CHECK(set.Value(set.form_count() + 1, 1).empty());
  return 0;
}
