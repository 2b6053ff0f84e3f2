// ParseDateText and IsBadDateText over an arbitrary typed text. The first
// two input bytes pick the current year (0..9999); the rest is the text.
// A parsed date is always four packed bytes, and a text the check accepts
// reads as a real date that edits back to a text the check accepts too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "format/dates.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int current_year = (data[0] | (data[1] << 8)) % 10000;
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

  const platform::Bool16 bad = format::IsBadDateText(text, current_year);
  FUZZ_CHECK(bad == platform::kTrue || bad == platform::kFalse);
  const std::string packed = format::ParseDateText(text, current_year);
  FUZZ_CHECK(packed.size() == static_cast<size_t>(format::kPackedDateSize));

  // The other routines that read a packed date take what the parser gives.
  const std::string edit = format::DateToEditText(packed, current_year);
  format::WeekDay(packed);
  format::DateAdd(packed, static_cast<int32_t>(text.size()) - 10, "D");
  format::DateAdd(packed, static_cast<int32_t>(text.size()), "M");
  format::DateDiff(packed, format::NoDate(), "A");
  (void)edit;
  return 0;
}
