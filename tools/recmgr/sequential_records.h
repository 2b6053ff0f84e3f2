// The reader of the sequential format that "recmgr load" takes: per record
// its length in decimal (1 to 6 digits), ",", the bytes, CR LF; the file
// ends with Ctrl-Z (what follows it is ignored). Pure: no file or engine is
// touched.
#ifndef TELVORAN_TOOLS_RECMGR_SEQUENTIAL_RECORDS_H_
#define TELVORAN_TOOLS_RECMGR_SEQUENTIAL_RECORDS_H_

#include <string>
#include <string_view>
#include <vector>

namespace recmgr_tool {

// Splits text into its records, views into text (which must outlive them).
// Returns false at the first malformed record, with *error naming it
// ("record N: bad length" or "record N: bad record ending"), or when the
// text ends without its Ctrl-Z; the records before are in *records then.
bool ParseSequentialRecords(std::string_view text, std::vector<std::string_view>* records,
                            std::string* error);

}  // namespace recmgr_tool

#endif  // TELVORAN_TOOLS_RECMGR_SEQUENTIAL_RECORDS_H_
