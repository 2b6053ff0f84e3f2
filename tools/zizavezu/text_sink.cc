#include "tools/zizavezu/text_sink.h"

#include "platform/cp850.h"

namespace zizavezu {

void RenderPageText(const Page& page, std::string* out) {
  int last = page.length() - 1;
  while (last >= 0 && page.PrintedRow(last).empty()) --last;
  for (int r = 0; r <= last; ++r) {
    for (char c : page.PrintedRow(r)) *out += platform::Cp850ByteToUtf8(static_cast<uint8_t>(c));
    out->push_back('\n');
  }
}

TextSink::TextSink(platform::Env* env, std::string path) : env_(env), path_(std::move(path)) {}

TextSink::~TextSink() {
  Close();
}

bool TextSink::EmitPage(const Page& page) {
  if (!error_.empty()) return false;
  if (file_ == nullptr) {
    file_ = env_->OpenWritable(path_);
    if (file_ == nullptr) {
      error_ = Localized("no es pot crear @1", {path_});
      return false;
    }
  }
  buffer_.clear();
  if (pages_ > 0) buffer_.push_back('\f');
  RenderPageText(page, &buffer_);
  if (!file_->Append(buffer_)) {
    error_ = Localized("no es pot escriure @1", {path_});
    return false;
  }
  bytes_ += static_cast<int64_t>(buffer_.size());
  ++pages_;
  return true;
}

bool TextSink::Close() {
  if (file_ != nullptr && !file_->Close() && error_.empty())
    error_ = Localized("no es pot escriure @1", {path_});
  return error_.empty();
}

}  // namespace zizavezu
