// The contacts file: the owners' e-mail addresses, as a spreadsheet exports
// them. One row per owner:
//
//   community code ; flat code ; address ; [address ...] ; [language]
//
// UTF-8 (with or without a byte order mark) when the bytes read as UTF-8,
// otherwise Windows-1252; the separator is ";" or "," as the first line
// uses (outside quotes); fields may be quoted, with "" for a quote; the
// first line is a header when its first field is not a number. A field may
// hold several addresses separated by blanks, commas or semicolons. The last
// field is the owner's language when it is one of ca, es, gl, oc (or CAT,
// SPA, GLG, OCI).
#ifndef TELVORAN_MAIL_CONTACTS_H_
#define TELVORAN_MAIL_CONTACTS_H_

#include <string>
#include <string_view>
#include <vector>

namespace mail {

struct Contact {
  std::string community;               // the code without leading zeros ("3")
  std::string flat;                    // the same ("12")
  std::vector<std::string> addresses;  // UTF-8, each checked
  std::string language;                // "CAT", "SPA", "GLG", "OCI"; empty: the installation's
  int line = 0;                        // in the file, from 1
};

struct ContactProblem {
  int line = 0;
  std::string why;  // a locale key (Catalan, CP850)
  std::string value;  // what was wrong, UTF-8 (may be empty)
};

// A code as the register and the contacts file compare them: blanks around
// and leading zeros dropped ("0012" and "12" are the same flat).
std::string CanonicalCode(std::string_view code);

// A well-formed single address: local@domain, no blanks or control bytes,
// and read by the mail library as exactly that one mailbox.
bool ValidAddress(const std::string& address);

// The rows of the file, each with at least one valid address. A row with an
// address that does not read, or without any, or whose codes are not
// numbers, is left out with its problem.
std::vector<Contact> ParseContacts(std::string_view bytes, std::vector<ContactProblem>* problems);

}  // namespace mail

#endif  // TELVORAN_MAIL_CONTACTS_H_
