// Text output: each page as UTF-8 lines without trailing blanks, up to its
// last printed row, and a form feed between pages. Bold has no form here.
// The file is created when the first page arrives, so a print file without
// pages leaves no output behind.
#ifndef TELVORAN_TOOLS_ZIZAVEZU_TEXT_SINK_H_
#define TELVORAN_TOOLS_ZIZAVEZU_TEXT_SINK_H_

#include <memory>
#include <string>

#include "platform/env.h"
#include "tools/zizavezu/page.h"

namespace zizavezu {

// Appends the text rendering of one page (without the form feed).
void RenderPageText(const Page& page, std::string* out);

class TextSink : public PageSink {
 public:
  // env must outlive the sink; path is a system path.
  TextSink(platform::Env* env, std::string path);
  ~TextSink() override;

  bool EmitPage(const Page& page) override;
  // Closes the file. Returns false when any write or the close failed.
  bool Close();
  // What went wrong, for the user; empty when nothing did.
  const std::string& error() const { return error_; }
  int64_t bytes_written() const { return bytes_; }

 private:
  platform::Env* env_;
  std::string path_;
  std::unique_ptr<platform::WritableFile> file_;
  std::string buffer_;
  int64_t pages_ = 0;
  int64_t bytes_ = 0;
  std::string error_;
};

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_TEXT_SINK_H_
