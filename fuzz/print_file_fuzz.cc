// The print program's reader over an arbitrary print file: each line
// through the directive parser into the page composer, as the program reads
// it (lines end with LF or CR LF), and every page rendered as text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "tools/zizavezu/diagnostics.h"
#include "tools/zizavezu/directive.h"
#include "tools/zizavezu/page.h"
#include "tools/zizavezu/text_sink.h"

namespace {

class TextPages : public zizavezu::PageSink {
 public:
  bool EmitPage(const zizavezu::Page& page) override {
    FUZZ_CHECK(page.length() >= 1 && page.length() <= zizavezu::kMaxPageLength);
    text_.clear();
    zizavezu::RenderPageText(page, &text_);
    ++pages_;
    return true;
  }
  int64_t pages() const { return pages_; }

 private:
  std::string text_;
  int64_t pages_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  TextPages sink;
  zizavezu::Diagnostics diagnostics;
  zizavezu::PageComposer composer(&sink, &diagnostics);
  size_t at = 0;
  int64_t line_number = 0;
  while (at < file.size()) {
    size_t nl = file.find('\n', at);
    std::string_view line = file.substr(at, nl == std::string_view::npos ? nl : nl - at);
    at = nl == std::string_view::npos ? file.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    FUZZ_CHECK(composer.Feed(zizavezu::ParseDirective(line), ++line_number));
  }
  FUZZ_CHECK(composer.Finish());
  FUZZ_CHECK(composer.pages() == sink.pages());
  diagnostics.Lines();
  return 0;
}
