// The form and browse tables of the console kit: what the module form file
// describes (forms with their fields, and browse lists). Filled once by the
// program driver, read and written (field values) by the form engine and the
// browse list. Forms are numbered from 1, fields from 1 within their form,
// browse lists from 1 (entry 0 exists and stays empty). Lives for the whole
// process; single-threaded.
#ifndef TELVORAN_CONSOLE_FORM_SET_H_
#define TELVORAN_CONSOLE_FORM_SET_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace console {

// Field attribute numbers. Must match the form file's order of items.
enum FieldAttribute : int {
  kFieldRow = 0,
  kFieldColumn = 1,
  kFieldLength = 2,
  kFieldDisplayWidth = 3,
  kFieldTrailer = 4,
  kFieldFlags = 5,
  kFieldType = 6,
  kFieldBrowseList = 7,
};

// Bits of a field's kFieldFlags attribute, as the form file numbers them.
inline constexpr int16_t kFieldStartsBlank = 1;  // shown and edited from blanks
inline constexpr int16_t kFieldHidden = 2;       // never shown (starts blank as well)
inline constexpr int16_t kFieldDisplayOnly = 4;  // shown, never entered
inline constexpr int16_t kFieldCursorAfterText = 8;

// Values of a field's kFieldType attribute; any other is a text field.
inline constexpr int16_t kFieldTypeDate = 1;
inline constexpr int16_t kFieldTypeNumber = 2;
inline constexpr int16_t kFieldTypeNumberOrP = 3;

struct FieldDef {
  std::array<int16_t, 8> attr{};
  std::string label;
  std::string choices;
  std::string value;  // as many blanks as the length attribute when loaded
};

struct FormDef {
  std::string exit_keys;
  int16_t field_count = 0;
  int16_t next = 0;
  int16_t top = 0, left = 0, bottom = 0, right = 0;
  std::vector<FieldDef> fields;  // index 1..; entry 0 unused
};

struct BrowseListDef {
  std::array<int16_t, 8> attr{};
  std::string title;
};

struct FormSet {
  int16_t max_fields = 0;
  std::vector<FormDef> forms;        // index 1..form count; entry 0 unused
  std::vector<BrowseListDef> lists;  // index 0..list count

  int16_t form_count() const { return forms.empty() ? 0 : static_cast<int16_t>(forms.size() - 1); }
  bool HasField(int form, int field) const;
  // REQUIRES: HasField(form, field).
  FieldDef& Field(int form, int field);
  const FieldDef& Field(int form, int field) const;
  // The value of a field, or the empty text when the form file did not
  // define it.
  std::string Value(int form, int field) const;
  // Fixed-width assignment: left placement, blank padding, cut at the
  // field's length. Does nothing for an undefined field.
  void SetValue(int form, int field, const std::string& text);
};

// The process-wide tables.
FormSet& Forms();

}  // namespace console

#endif  // TELVORAN_CONSOLE_FORM_SET_H_
