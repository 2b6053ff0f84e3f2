#include "driver/print_channel.h"

#include <cstdlib>
#include <memory>

#include "config/settings.h"
#include "platform/blanks.h"
#include "platform/env.h"

namespace driver {

namespace {

struct ChannelState {
  std::unique_ptr<platform::WritableFile> file;
  bool ok = false;
  int16_t page_length = 0;
  int32_t line_counter = 0;
};

ChannelState& State() {
  static ChannelState state;
  return state;
}

void WriteDirective(const std::string& line) {
  ChannelState& st = State();
  if (!st.file) {
    st.ok = false;
    return;
  }
  if (!st.file->AppendLine(line)) st.ok = false;
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
  if (value < 0) return "-" + std::to_string(-value) + " ";
  return " " + std::to_string(value) + " ";
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
  if (st.file) st.file->Close();
  st.file = platform::CurrentEnv().OpenWritable(PrintFilePath());
  st.ok = st.file != nullptr;
  WriteDirective("DEVICE" + device);
  return st.ok;
}

bool PrintChannelClose() {
  ChannelState& st = State();
  if (st.file) {
    if (!st.file->Close()) st.ok = false;
    st.file.reset();
  }
  bool ok = st.ok;
  st.ok = false;
  return ok;
}

void PrintPage(int16_t length) {
  ChannelState& st = State();
  WriteDirective("PAGE" + FrameNumber(length));
  st.page_length = length;
  st.line_counter = 0;
}

void PrintRaw(const std::string& text) {
  WriteDirective("*" + text);
}

void PrintJustify(std::string& code) {
  code = NormaliseJustification(code);
  WriteDirective("JUS" + code);
}

void PrintText(int16_t column, const std::string& text, int16_t line_feeds) {
  ChannelState& st = State();
  std::string clean = BlankControlCharacters(text);
  if (st.line_counter >= st.page_length) PrintPage(st.page_length);
  WriteDirective(FrameNumber(column) + "," + clean + "," + FrameNumber(line_feeds));
  st.line_counter += line_feeds;
}

int32_t PrintLineCounter() {
  return State().line_counter;
}
int16_t PrintPageLength() {
  return State().page_length;
}

}  // namespace driver
