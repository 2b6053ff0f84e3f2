// IniRead: the value of one key in one section of an INI-style text file.
// It keeps nothing between calls: each call opens the file, reads it and
// closes it again; it never writes. Callers keep the values they need.
//
// A settings file is code page 850, as the system writes it, or UTF-8, as
// today's editors write it: a file whose bytes are well-formed UTF-8 holding
// characters beyond ASCII (which a code page 850 file with accents almost
// never is), or that starts with a UTF-8 byte order mark, is read as UTF-8
// and its text values come back as code page 850.
#ifndef TELVORAN_CONFIG_INI_H_
#define TELVORAN_CONFIG_INI_H_

#include <string>
#include <vector>

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
// A value handed to the host as it stands (a path, a connection string):
// its bytes are never converted, whatever the file's encoding.
std::string IniReadBytes(platform::Env& env, const std::string& path, const std::string& section,
                         const std::string& key);

// The same scan over text already in memory (lines split as the file reader
// splits them). The pure core of IniRead; as_text: a UTF-8 text's value as
// code page 850.
std::string IniLookup(const std::string& text, const std::string& section, const std::string& key,
                      bool as_text = true);
// Whether the file's lines are read as UTF-8 (see above).
bool IniIsUtf8(const std::vector<std::string>& lines);

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
