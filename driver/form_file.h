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
// file that ends early simply stops the loading; what was read stays.
#ifndef TELVORAN_DRIVER_FORM_FILE_H_
#define TELVORAN_DRIVER_FORM_FILE_H_

#include <functional>
#include <string>

#include "console/form_set.h"

namespace driver {

using TranslateFn = std::function<std::string(const std::string&)>;

// Parses form file bytes into *set (replacing its contents).
void ParseFormFile(const std::string& bytes, const TranslateFn& translate, console::FormSet* set);

// Reads the file at path through the current Env. A missing file leaves an
// empty set. Returns false when the file could not be opened.
bool LoadFormFile(const std::string& path, const TranslateFn& translate, console::FormSet* set);

}  // namespace driver

#endif  // TELVORAN_DRIVER_FORM_FILE_H_
