// The statement register: one entry per statement copy of a print run, in
// print order, written by the module (and the batch printer) beside the print
// file, read by the print program (to split the run into one PDF per
// statement, to bookmark the one-PDF run) and by the mail sender (the
// figures its messages quote, the PDF of each copy).
//
// A text file in code page 850, CR LF lines, fields separated by tabs (a
// tab, CR, LF or other control character in a value is written as a blank):
//
//   TELVORAN-REGISTRE <tab> 1                      the first line
//   S <tab> field <tab> field ...                  one line per copy, the
//                                                  fields of StatementEntry
//                                                  in their declared order
//   FI <tab> print file bytes <tab> pages <tab> entries    the last line
//
// The last line ties the register to the print file it was written with:
// a register whose print file is not that size, or that is cut short, is
// not this print file's. Its entries cover the print file's pages one after
// the other, from page 1 to the last, without a gap.
#ifndef TELVORAN_PLATFORM_STATEMENT_REGISTER_H_
#define TELVORAN_PLATFORM_STATEMENT_REGISTER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Beside the print file, in the temporary folder.
inline constexpr char kRegisterFileName[] = "zizavezu.reg";
// In a folder of one PDF per statement: the register with each entry's file.
inline constexpr char kFolderRegisterName[] = "resum.reg";

struct StatementEntry {
  std::string community_code;  // the community's code as typed ("3")
  std::string community_name;  // trailing blanks trimmed
  // A copy printed once per owner: the owner's flat code as typed ("12"),
  // name and flat designation. Empty for the community's own copies.
  std::string flat_code;
  std::string owner_name;
  std::string flat;
  int copy = 1;             // the copy's number within its community, from 1
  int64_t first_page = 0;   // its first page in the print file, from 1
  int64_t pages = 0;        // at least 1
  std::string period_from;  // YYYYMMDD; empty when the community has no previous settlement
  std::string period_to;    // YYYYMMDD, the report date
  // In cents, as printed.
  int64_t carried_balance = 0;
  int64_t total_expenses = 0;
  int64_t fee = 0;
  int64_t total_collections = 0;
  int64_t balance = 0;
  // The side the balance favours, as the statement says: the community when
  // the balance is above zero, the administrator otherwise.
  bool favours_community = false;
  // In a folder of one PDF per statement: the file of this copy. Empty in
  // the print run's register.
  std::string file;

  bool per_owner() const { return !flat_code.empty(); }
};

struct StatementRegister {
  std::vector<StatementEntry> entries;
  int64_t print_file_bytes = 0;  // of the print file it was written with
  int64_t pages = 0;             // PAGE directives of that print file
};

// The register's lines, without their CR LF.
std::string RegisterHeader();
std::string RegisterLine(const StatementEntry& entry);
std::string RegisterTrailer(int64_t print_file_bytes, int64_t pages, size_t entries);

// Reads a whole register. False, with *why the reason as a locale key
// (Catalan, CP850: the caller translates it), when the text is not a register, is cut short, holds a
// line that does not read, or its entries do not cover pages 1 to the last
// one after the other.
bool ParseRegister(std::string_view text, StatementRegister* out, std::string* why);

// The PDF name of the entry in a folder of one PDF per statement, so that a
// listing sorts by community and flat: "0003.pdf" for community 3,
// "0003-0012.pdf" for its copy of flat 12, "0003_02.pdf" for its second
// copy (codes of more than four digits as they are).
std::string StatementFileName(const StatementEntry& entry);

// True for "\x", "/x" and drive paths such as "C:x" or "C:\x".
bool IsAbsolutePath(std::string_view path);

// The folder a device text of the terminal's Sortida names when it is
// "DIR:<folder>" or "CORREU:<folder>" (prefix in any case, blanks and tabs
// around it not counted): relative to temp_dir (a prefix ending in a
// separator, or empty), temp_dir + "resum\" when empty, always ending in a
// separator. Empty for any other device. *mail (when given) is set for
// CORREU:, whose folder the print run then sends by e-mail.
inline constexpr char kDefaultStatementFolder[] = "resum\\";
std::string StatementFolderOfDevice(std::string_view device_text, const std::string& temp_dir,
                                    bool* mail = nullptr);

}  // namespace platform

#endif  // TELVORAN_PLATFORM_STATEMENT_REGISTER_H_
