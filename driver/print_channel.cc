#include "driver/print_channel.h"

#include <array>
#include <cassert>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "config/settings.h"
#include "platform/blanks.h"
#include "platform/env.h"
#include "platform/number_text.h"

namespace driver {

namespace {

// Directives are gathered here and written to the file in pieces of about
// this size: a statement line is a few dozen bytes.
constexpr size_t kWriteChunk = 64 * 1024;

// Writes value framed as the print file has it (its sign or a blank, the
// digits, a blank) at to, which has room for 22 bytes; returns the end.
char* PutFramedNumber(char* to, long value) {
  const unsigned long magnitude =
      value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  *to++ = value < 0 ? '-' : ' ';
  to = std::to_chars(to, to + 20, magnitude).ptr;
  *to++ = ' ';
  return to;
}

void AppendFramedNumber(std::string& out, long value) {
  char framed[24];
  out.append(framed, PutFramedNumber(framed, value));
}

// The byte a text item shows for each byte: control characters, DEL and
// 255 become blanks, which the print file's lines cannot carry.
constexpr std::array<char, 256> kShownByte = [] {
  std::array<char, 256> shown{};
  for (int u = 0; u < 256; ++u) {
    shown[static_cast<size_t>(u)] = u < 32 || u == 127 || u == 255 ? ' ' : static_cast<char>(u);
  }
  return shown;
}();

}  // namespace

std::string PrintFilePath(const config::Settings& settings) {
  return settings.temp_dir + kPrintFileName;
}

std::string FrameNumber(long value) {
  std::string out;
  AppendFramedNumber(out, value);
  return out;
}

std::string BlankControlCharacters(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = kShownByte[static_cast<unsigned char>(c)];
  return out;
}

std::string NormaliseJustification(const std::string& code) {
  std::string trimmed = platform::TrimBlanks(code);
  char first = trimmed.empty() ? ' ' : trimmed[0];
  if (first >= 'a' && first <= 'z') first = static_cast<char>(first - 'a' + 'A');
  switch (first) {
    case 'C':
      return "C";
    case 'D':
    case 'R':
      return "D";
    case 'A':
    case 'B':
      return "A";
    case 'N': {
      long column = std::labs(
          platform::LeadingNumber(trimmed.substr(1), 32767, platform::BlanksInNumber::kSkip));
      // The fill text is delimited by the first two "\" of the code as given;
      // without a closing one it runs to the end, without any it is empty.
      std::string fill;
      size_t open = code.find('\\');
      if (open != std::string::npos) {
        size_t close = code.find('\\', open + 1);
        fill = code.substr(open, close == std::string::npos ? std::string::npos : close - open + 1);
      }
      return "N " + std::to_string(column) + " " + fill;
    }
    default:
      return "E";
  }
}

void PrintChannel::Flush() {
  if (pending_.empty()) return;
  if (file_ && !file_->Append(pending_)) ok_ = false;
  bytes_ += static_cast<int64_t>(pending_.size());
  pending_.clear();
}

// Ends the directive appended to pending_. Without a file nothing is kept
// and the run is marked failed.
void PrintChannel::EndDirective() {
  pending_ += platform::kPrintLineEnd;
  DirectiveEnded();
}

// After a directive and its line end were appended to pending_.
void PrintChannel::DirectiveEnded() {
  if (!file_) {
    ok_ = false;
    pending_.clear();
    return;
  }
  if (pending_.size() >= kWriteChunk) Flush();
}

bool PrintChannel::Open(const std::string& path, const std::string& device) {
  if (file_) {
    Flush();
    file_->Close();
  }
  pending_.clear();
  pending_.reserve(kWriteChunk + 512);
  bytes_ = 0;
  page_directives_ = 0;
  file_ = platform::CurrentEnv().OpenWritable(path);
  ok_ = file_ != nullptr;
  pending_ += platform::kDeviceDirective;
  pending_ += device;
  EndDirective();
  return ok_;
}

bool PrintChannel::Close() {
  if (file_) {
    Flush();
    if (!file_->Close()) ok_ = false;
    file_.reset();
  }
  pending_.clear();
  const bool ok = ok_;
  ok_ = false;
  return ok;
}

void PrintChannel::Abandon() {
  file_.reset();  // never closed: the new file goes
  pending_.clear();
  ok_ = false;
}

void PrintChannel::Page(int16_t length) {
  pending_ += platform::kPageDirective;
  AppendFramedNumber(pending_, length);
  EndDirective();
  ++page_directives_;
  page_length_ = length;
  line_counter_ = 0;
}

void PrintChannel::Raw(std::string_view text) {
  pending_ += platform::kRawDirective;
  pending_ += text;
  EndDirective();
}

void PrintChannel::NormaliseAndJustify(std::string& code) {
  code = NormaliseJustification(code);
  Justify(code);
}

void PrintChannel::Justify(std::string_view code) {
  assert(NormaliseJustification(std::string(code)) == code);
  pending_ += platform::kJustifyDirective;
  pending_ += code;
  EndDirective();
}

void PrintChannel::Text(int16_t column, std::string_view text, int16_t line_feeds) {
  if (line_counter_ >= page_length_) Page(page_length_);
  // The whole directive is written in place at the end of pending_: the
  // statements are made of these.
  char head[24];
  char* const head_end = PutFramedNumber(head, column);
  char tail[24];
  char* const tail_end = PutFramedNumber(tail, line_feeds);
  const size_t head_size = static_cast<size_t>(head_end - head);
  const size_t tail_size = static_cast<size_t>(tail_end - tail);
  const size_t at = pending_.size();
  pending_.resize(at + head_size + text.size() + tail_size + 2 + platform::kPrintLineEnd.size());
  char* to = pending_.data() + at;
  std::memcpy(to, head, head_size);
  to += head_size;
  *to++ = platform::kItemSeparator;
  for (const char c : text) *to++ = kShownByte[static_cast<unsigned char>(c)];
  *to++ = platform::kItemSeparator;
  std::memcpy(to, tail, tail_size);
  to += tail_size;
  std::memcpy(to, platform::kPrintLineEnd.data(), platform::kPrintLineEnd.size());
  DirectiveEnded();
  line_counter_ += line_feeds;
}

}  // namespace driver
