#include "driver/print_channel.h"

#include <cassert>
#include <charconv>
#include <cstdlib>
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

void AppendFramedNumber(std::string& out, long value) {
  char digits[24];
  const unsigned long magnitude =
      value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  out += value < 0 ? '-' : ' ';
  out.append(digits, end);
  out += ' ';
}

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
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127 || u == 255) c = ' ';
  }
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
  pending_.clear();
}

// Ends the directive appended to pending_. Without a file nothing is kept
// and the run is marked failed.
void PrintChannel::EndDirective() {
  if (!file_) {
    ok_ = false;
    pending_.clear();
    return;
  }
  pending_ += platform::kPrintLineEnd;
  if (pending_.size() >= kWriteChunk) Flush();
}

bool PrintChannel::Open(const std::string& path, const std::string& device) {
  if (file_) {
    Flush();
    file_->Close();
  }
  pending_.clear();
  pending_.reserve(kWriteChunk + 512);
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
  std::string& out = pending_;
  AppendFramedNumber(out, column);
  out += platform::kItemSeparator;
  const size_t at = out.size();
  out += text;
  for (size_t i = at; i < out.size(); ++i) {
    const unsigned char u = static_cast<unsigned char>(out[i]);
    if (u < 32 || u == 127 || u == 255) out[i] = ' ';
  }
  out += platform::kItemSeparator;
  AppendFramedNumber(out, line_feeds);
  EndDirective();
  line_counter_ += line_feeds;
}

}  // namespace driver
