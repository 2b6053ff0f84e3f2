// The form engine: RunForm opens a form's window, draws it, moves the user
// from field to field through EditField, validates and stores each value
// (StoreField), offers help on F1 and a browse list on F4, follows the form
// onto its continuation pages and finally asks the module whether the form
// is acceptable. The forms are the tables of console::Forms().
//
// Process-wide state (ResumeForm and the hooks), single-threaded.
#ifndef TELVORAN_CONSOLE_FORM_ENGINE_H_
#define TELVORAN_CONSOLE_FORM_ENGINE_H_

#include <cstdint>
#include <functional>
#include <string>

namespace console {

struct FormHooks {
  // The module's completion check: 0 accepts the form.
  std::function<int16_t(int16_t form, int16_t key)> completion;
  // The module's browse transfer: copies the chosen record's key into the
  // field (through StoreField).
  std::function<int16_t(int16_t list, int16_t form, int16_t field)> browse_transfer;
  // Runs browse list `list`; true when the user chose a record. Not
  // installed: F4 leaves the field rejected.
  std::function<bool(int16_t list)> browse;
  // Shows the help topic (menu name without trailing blanks). Not installed:
  // F1 does nothing.
  std::function<void(const std::string& topic)> help;
};
void SetFormHooks(FormHooks hooks);

// form > 0: a top-level form; form < 0: page |form| of a chain. When not 0,
// may_leave_up / may_leave_down let PgUp on the first (PgDn on the last)
// editable field leave the form. key: the key that ended it.
void RunForm(int16_t& form, int16_t& may_leave_up, int16_t& may_leave_down, int16_t& key);
void DrawForm(int16_t form);
// Validates the value by the field's type and stores it; 0 when accepted.
int16_t StoreField(int16_t form, const std::string& value, int16_t field, int16_t key);

// The page a PgUp or PgDn left from (0 = none).
int16_t& ResumeForm();

}  // namespace console

#endif  // TELVORAN_CONSOLE_FORM_ENGINE_H_
