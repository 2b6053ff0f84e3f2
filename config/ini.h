// IniRead: the value of one key in one section of an INI-style text file.
// It keeps nothing between calls: each call opens the file, scans it from the
// top and closes it again; it never writes. Callers keep the values they need.
#ifndef TELVORAN_CONFIG_INI_H_
#define TELVORAN_CONFIG_INI_H_

#include <string>

#include "platform/env.h"

namespace config {

// Returns the value of key in section of the file at path (a system path),
// read through platform::CurrentEnv(). The empty string stands alike for a
// missing file, section or key and for an empty value.
//
// Rules: a ";" anywhere starts a comment; only blanks (32) are trimmed, never
// tabs; names compare case-insensitively through the 8-bit upper-casing;
// values are kept as they stand after the "=" except that one pair of
// enclosing double quotes is removed; only the first section of that name is
// searched and the first matching key in it wins.
std::string IniRead(const std::string& path, const std::string& section, const std::string& key);
// The same, through the given env.
std::string IniRead(platform::Env& env, const std::string& path, const std::string& section,
                    const std::string& key);

// The same scan over text already in memory (lines split as the file reader
// splits them). The pure core of IniRead.
std::string IniLookup(const std::string& text, const std::string& section, const std::string& key);

// The line-by-line scanner behind both.
class IniScanner {
 public:
  IniScanner(const std::string& section, const std::string& key);

  // Feeds the next line. Returns false once the search is over (found, or
  // the wanted section ended); further lines are then not needed.
  bool Feed(const std::string& line);

  // The value found, one pair of enclosing quotes removed; empty when the
  // key was not found.
  std::string Result() const;

 private:
  std::string section_;
  std::string key_;
  bool in_section_ = false;
  bool done_ = false;
  std::string value_;
};

}  // namespace config

#endif  // TELVORAN_CONFIG_INI_H_
