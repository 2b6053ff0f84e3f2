// ParseContacts over arbitrary bytes (a contacts file as a spreadsheet
// exports it, or anything else): every contact it keeps has numeric codes
// and only addresses ValidAddress accepts, with no CR or LF that could reach
// a message header.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "mail/contacts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<mail::ContactProblem> problems;
  for (const mail::Contact& c : mail::ParseContacts(bytes, &problems)) {
    FUZZ_CHECK(!c.addresses.empty() && c.line >= 1);
    FUZZ_CHECK(c.community.find_first_not_of("0123456789") == std::string::npos);
    FUZZ_CHECK(c.flat.find_first_not_of("0123456789") == std::string::npos);
    for (const std::string& a : c.addresses) {
      FUZZ_CHECK(mail::ValidAddress(a));
      FUZZ_CHECK(a.find_first_of("\r\n") == std::string::npos);
    }
  }
  for (const mail::ContactProblem& p : problems) FUZZ_CHECK(p.line >= 1 && !p.why.empty());
  return 0;
}
