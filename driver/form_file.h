// The module form file loader: reads root + "FORMS\<module>.ZPN" into the
// console kit's form and browse tables.
//
// File syntax: items separated by commas or line ends, spread over lines
// freely; a text item is either quoted ("..." may hold commas) or runs to the
// next comma or line end; Ctrl-Z ends the file. Lines whose first non-blank
// character is "'" are comments; they may stand before any record (the
// header, each form, each field, the list count and each list). Records:
//   form count, maximum field count
//   per form: exit keys, field count, next form, top, left, bottom, right,
//     then per field: row, column, label, length, display width, trailer,
//     flags, type, browse list, choices
//   list count
//   per list: integers 0..6, title, integer 7
// Labels, choices and list titles pass through the translate function. A
// file that ends early stops the loading; what was read stays, and the
// parser says so. The module itself refuses such a file at start-up (see
// LoadModuleForms).
#ifndef TELVORAN_DRIVER_FORM_FILE_H_
#define TELVORAN_DRIVER_FORM_FILE_H_

#include <functional>
#include <string>

#include "console/form_set.h"

namespace driver {

using TranslateFn = std::function<std::string(const std::string&)>;

// Parses form file bytes into *set (replacing its contents). Returns true
// when the file holds every record its counts announce, false when it ends
// early (inside the forms or the lists).
bool ParseFormFile(const std::string& bytes, const TranslateFn& translate, console::FormSet* set);

// Reads the file at path through the current Env. A missing file leaves an
// empty set. Returns false when the file could not be opened.
bool LoadFormFile(const std::string& path, const TranslateFn& translate, console::FormSet* set);

// What the module reads from its forms: the parameter form (1) with its six
// fields (report date, community and flat of each bound, copies), each with
// a length, and the confirmation form (2) with its field 1 of length 1,
// each within its form's field count. Returns the empty text when set holds
// them, else which field is missing (its text through translate).
std::string CheckModuleForms(const console::FormSet& set, const TranslateFn& translate = nullptr);

// The module's start-up load: reads the file at path into *set and returns
// the empty text when it can be used, else the message to show, naming the
// file (as the host has it): it cannot be read, it ends early, or
// CheckModuleForms finds a field missing. Texts through translate.
std::string LoadModuleForms(const std::string& path, const TranslateFn& translate,
                            console::FormSet* set);

}  // namespace driver

#endif  // TELVORAN_DRIVER_FORM_FILE_H_
