// ParseRegister over arbitrary bytes: a register it accepts covers pages 1
// to its last without a gap, and written back line by line it reads back as
// the same entries.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/statement_register.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  platform::StatementRegister reg;
  std::string why;
  if (!platform::ParseRegister(bytes, &reg, &why)) {
    FUZZ_CHECK(!why.empty());
    return 0;
  }
  int64_t next = 1;
  std::string again = platform::RegisterHeader() + "\r\n";
  for (const platform::StatementEntry& e : reg.entries) {
    FUZZ_CHECK(e.first_page == next && e.pages >= 1);
    next += e.pages;
    platform::StatementFileName(e);
    again += platform::RegisterLine(e) + "\r\n";
  }
  FUZZ_CHECK(next - 1 == reg.pages);
  again += platform::RegisterTrailer(reg.print_file_bytes, reg.pages, reg.entries.size()) + "\r\n";
  platform::StatementRegister back;
  FUZZ_CHECK(platform::ParseRegister(again, &back, &why));
  FUZZ_CHECK(back.entries.size() == reg.entries.size());
  for (size_t i = 0; i < back.entries.size(); ++i) {
    FUZZ_CHECK(platform::RegisterLine(back.entries[i]) == platform::RegisterLine(reg.entries[i]));
  }
  return 0;
}
