#include "driver/print_channel.h"

#include <cassert>
#include <charconv>
#include <cstdlib>
#include <memory>

#include "config/settings.h"
#include "platform/blanks.h"
#include "platform/env.h"

namespace driver {

namespace {

// Directives are gathered here and written to the file in pieces of about
// this size: a statement line is a few dozen bytes.
constexpr size_t kWriteChunk = 64 * 1024;

struct ChannelState {
  std::unique_ptr<platform::WritableFile> file;
  bool ok = false;
  int16_t page_length = 0;
  int32_t line_counter = 0;
  std::string pending;  // directives not yet handed to the file
};

ChannelState& State() {
  static ChannelState state;
  return state;
}

void Flush(ChannelState& st) {
  if (st.pending.empty()) return;
  if (st.file && !st.file->Append(st.pending)) st.ok = false;
  st.pending.clear();
}

// Ends the directive appended to st.pending. Without a file nothing is kept
// and the run is marked failed.
void EndDirective(ChannelState& st) {
  if (!st.file) {
    st.ok = false;
    st.pending.clear();
    return;
  }
  st.pending += "\r\n";
  if (st.pending.size() >= kWriteChunk) Flush(st);
}

void WriteDirective(std::string_view line) {
  ChannelState& st = State();
  st.pending += line;
  EndDirective(st);
}

void AppendFramedNumber(std::string& out, long value) {
  char digits[24];
  const unsigned long magnitude =
      value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  out += value < 0 ? '-' : ' ';
  out.append(digits, end);
  out += ' ';
}

// The numeric value of a text as the classic VAL reads it: leading blanks,
// an optional sign, digits with an optional fraction; it stops at anything
// else. Truncated toward zero and kept within 16 bits.
long LeadingNumber(const std::string& s) {
  size_t i = s.find_first_not_of(' ');
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') {
    negative = s[i] == '-';
    ++i;
  }
  long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] == ' ') continue;
    if (s[i] < '0' || s[i] > '9') break;
    v = v * 10 + (s[i] - '0');
    if (v > 32767) v = 32767;
  }
  return negative ? -v : v;
}

}  // namespace

std::string PrintFilePath() {
  return config::ModuleSettings().temp_dir + kPrintFileName;
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
      long column = std::labs(LeadingNumber(trimmed.substr(1)));
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

bool PrintChannelOpen(const std::string& device) {
  ChannelState& st = State();
  if (st.file) {
    Flush(st);
    st.file->Close();
  }
  st.pending.clear();
  st.pending.reserve(kWriteChunk + 512);
  st.file = platform::CurrentEnv().OpenWritable(PrintFilePath());
  st.ok = st.file != nullptr;
  WriteDirective("DEVICE" + device);
  return st.ok;
}

bool PrintChannelClose() {
  ChannelState& st = State();
  if (st.file) {
    Flush(st);
    if (!st.file->Close()) st.ok = false;
    st.file.reset();
  }
  st.pending.clear();
  bool ok = st.ok;
  st.ok = false;
  return ok;
}

void PrintChannelAbandon() {
  ChannelState& st = State();
  st.file.reset();  // never closed: the new file goes
  st.pending.clear();
  st.ok = false;
}

void PrintPage(int16_t length) {
  ChannelState& st = State();
  st.pending += "PAGE";
  AppendFramedNumber(st.pending, length);
  EndDirective(st);
  st.page_length = length;
  st.line_counter = 0;
}

void PrintRaw(const std::string& text) {
  ChannelState& st = State();
  st.pending += '*';
  st.pending += text;
  EndDirective(st);
}

void PrintJustify(std::string& code) {
  code = NormaliseJustification(code);
  PrintNormalJustify(code);
}

void PrintNormalJustify(std::string_view code) {
  assert(NormaliseJustification(std::string(code)) == code);
  ChannelState& st = State();
  st.pending += "JUS";
  st.pending += code;
  EndDirective(st);
}

void PrintText(int16_t column, std::string_view text, int16_t line_feeds) {
  ChannelState& st = State();
  if (st.line_counter >= st.page_length) PrintPage(st.page_length);
  std::string& out = st.pending;
  AppendFramedNumber(out, column);
  out += ',';
  const size_t at = out.size();
  out += text;
  for (size_t i = at; i < out.size(); ++i) {
    const unsigned char u = static_cast<unsigned char>(out[i]);
    if (u < 32 || u == 127 || u == 255) out[i] = ' ';
  }
  out += ',';
  AppendFramedNumber(out, line_feeds);
  EndDirective(st);
  st.line_counter += line_feeds;
}

int32_t PrintLineCounter() {
  return State().line_counter;
}
int16_t PrintPageLength() {
  return State().page_length;
}

}  // namespace driver
