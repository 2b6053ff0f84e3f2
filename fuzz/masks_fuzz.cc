// FormatMask, FormatAmount and IsBadNumberText with mask and value from the
// input: eight bytes of a double, one byte choosing the number characters
// and the currency (euros or pesetas), then the mask, a line feed and a typed text. FormatMask
// keeps the mask's length whatever the value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "format/currency.h"
#include "format/masks.h"
#include "fuzz/fuzz_support.h"
#include "platform/fake_env.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  double v;
  std::memcpy(&v, data, sizeof(v));
  static const format::NumberChars kChars[] = {{'\'', '.'}, {',', '.'}, {'.', ','}, {'.', '.'}};
  const format::NumberChars chars = kChars[data[8] % 4];
  // FormatAmount reads the characters from the user settings once: an
  // empty scratch root gives the defaults, the same on every run.
  static platform::FakeEnv env(fuzz::ScratchDir());
  static platform::ScopedEnvOverride override_env(&env);
  format::SetCurrency((data[8] & 4) != 0 ? "a,P" : "a,E");
  std::string rest(reinterpret_cast<const char*>(data) + 9, size - 9);
  const std::string mask = fuzz::TakeLine(&rest);

  FUZZ_CHECK(format::FormatMask(mask, v, chars).size() == mask.size());
  const double cents = v;
  format::FormatAmount(mask, cents);
  format::DeriveAmountMask(mask, cents, false);
  format::DeriveAmountMask(mask, cents, true);
  const platform::Bool16 bad = format::IsBadNumberText(rest, mask);
  FUZZ_CHECK(bad == platform::kTrue || bad == platform::kFalse);
  return 0;
}
