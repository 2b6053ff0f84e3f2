#include "console/form_set.h"

#include <cassert>

namespace console {

bool FormSet::HasField(int form, int field) const {
  if (form < 1 || form >= static_cast<int>(forms.size())) return false;
  return field >= 1 && field < static_cast<int>(forms[static_cast<size_t>(form)].fields.size());
}

FieldDef& FormSet::Field(int form, int field) {
  assert(HasField(form, field));
  return forms[static_cast<size_t>(form)].fields[static_cast<size_t>(field)];
}

const FieldDef& FormSet::Field(int form, int field) const {
  assert(HasField(form, field));
  return forms[static_cast<size_t>(form)].fields[static_cast<size_t>(field)];
}

std::string FormSet::Value(int form, int field) const {
  return HasField(form, field) ? Field(form, field).value : std::string();
}

void FormSet::SetValue(int form, int field, const std::string& text) {
  if (!HasField(form, field)) return;
  FieldDef& f = Field(form, field);
  int16_t length = f.attr[kFieldLength];
  std::string v = text;
  v.resize(length > 0 ? static_cast<size_t>(length) : 0, ' ');
  f.value = v;
}

FormSet& Forms() {
  static FormSet set;
  return set;
}

}  // namespace console
