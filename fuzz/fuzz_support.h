// Helpers shared by the fuzz targets: a scratch folder for readers that take
// their bytes from a file, and a check that stops the run with a message
// when a reader breaks one of its promises.
#ifndef TELVORAN_FUZZ_FUZZ_SUPPORT_H_
#define TELVORAN_FUZZ_FUZZ_SUPPORT_H_

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

// A folder of this process's own under $TMPDIR (else /tmp), made on the
// first call and removed at exit; the host path ends with "/".
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/telvoran-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    static const std::string made = pattern;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(made, ignored);
    });
    return pattern + "/";
  }();
  return dir;
}

// Replaces the file at host_path with the bytes.
inline void WriteHostFile(const std::string& host_path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(host_path.c_str(), "wb");
  if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
    std::perror(host_path.c_str());
    std::abort();
  }
}

// Splits off the bytes up to the first line feed (dropped) from *rest.
inline std::string TakeLine(std::string* rest) {
  const size_t nl = rest->find('\n');
  std::string line = rest->substr(0, nl);
  rest->erase(0, nl == std::string::npos ? rest->size() : nl + 1);
  return line;
}

// A broken promise of the reader under test: report it and crash, so the
// fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

}  // namespace fuzz

#endif  // TELVORAN_FUZZ_FUZZ_SUPPORT_H_
