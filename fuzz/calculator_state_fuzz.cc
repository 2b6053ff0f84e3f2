// The calculator's state reader ("ZELCALC.TMP") over arbitrary bytes. A
// state it accepts writes back as bytes that read as the same state, and
// takes every key without breaking.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "console/calculator.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<console::CalculatorState> state = console::ParseCalculatorState(bytes);
  if (!state) return 0;
  const std::string written = console::SerializeCalculatorState(*state);
  const std::optional<console::CalculatorState> again = console::ParseCalculatorState(written);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(*again == *state);

  console::CalculatorState s = *state;
  for (const char key : std::string_view("12.5+3*=R%-/0=C")) {
    console::PressCalculatorKey(s, static_cast<int16_t>(key));
    console::CalculatorAmountText(s);
  }
  return 0;
}
