// recmgr: the data tool for administrators and tests. Creates data files
// from definition files, loads and saves them in the sequential format,
// shows their statistics and records, holds locks and sets owner names.
// Paths are host paths. Exit code 0 on success; otherwise one line on stderr
// and a non-zero code.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/record_file.h"
#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"
#include "tools/recmgr/sequential_records.h"

namespace {

using recmgr::RecordManagerCall;
using recmgr::Status;

constexpr char kUsage[] =
    "usage: recmgr [--owner NAME] COMMAND ...\n"
    "  create FILE XDF [--replace]      create FILE from a definition file\n"
    "  load FILE SEQ                    add the records of SEQ ('-': stdin), all or none\n"
    "  save FILE SEQ [--key N]          write the records in key order ('-': stdout)\n"
    "  stat FILE                        record length, keys, counts\n"
    "  dump FILE [--key N] [--limit K]  position, hex and text of each record\n"
    "  lock FILE (--record POS | --file) --seconds S\n"
    "                                   hold a lock, printing 'locked' once held\n"
    "  owner FILE NAME                  set the owner name (empty: none)\n"
    "Sequential format: per record its length in decimal, ',', the bytes, CR LF;\n"
    "the file ends with Ctrl-Z.\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "recmgr: %s\n", message.c_str());
  return 1;
}

int FailStatus(const std::string& what, Status s) {
  return Fail(what + ": status " + std::to_string(s));
}

bool ReadAll(const std::string& path, std::string* out) {
  if (path == "-") {
    out->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

class File {
 public:
  File() { std::memset(block_, 0, sizeof(block_)); }
  ~File() {
    uint32_t n = 0;
    RecordManagerCall(recmgr::kOpClose, block_, nullptr, &n, nullptr, 0, 0);
  }
  Status Open(const std::string& path, const std::string& owner, int8_t mode = 0) {
    std::string data = owner + '\0';
    std::string key = path + '\0';
    uint32_t n = static_cast<uint32_t>(data.size());
    return RecordManagerCall(recmgr::kOpOpen, block_, data.data(), &n, key.data(),
                             static_cast<uint8_t>(std::min<size_t>(path.size(), 255)), mode);
  }
  Status Stat(recmgr::FileDefinition* def, std::string* raw) {
    raw->assign(recmgr::kMaxRecordLength, '\0');
    uint32_t n = static_cast<uint32_t>(raw->size());
    char key[256];
    std::memset(key, ' ', sizeof(key));
    Status s = RecordManagerCall(recmgr::kOpStat, block_, raw->data(), &n, key, 255, 0);
    raw->resize(n);
    if (s != 0) return s;
    return recmgr::DecodeDefinition(reinterpret_cast<const uint8_t*>(raw->data()), raw->size(),
                                    def);
  }
  Status Read(uint16_t op, int8_t key, std::string* record) {
    record->assign(recmgr::kMaxRecordLength, '\0');
    uint32_t n = static_cast<uint32_t>(record->size());
    char k[256] = {};
    Status s = RecordManagerCall(op, block_, record->data(), &n, k, 255, key);
    record->resize(n);
    return s;
  }
  uint32_t Position() {
    char d[4];
    uint32_t n = 4;
    if (RecordManagerCall(recmgr::kOpGetPosition, block_, d, &n, nullptr, 0, 0) != 0) return 0;
    uint32_t p = 0;
    for (int i = 0; i < 4; ++i) p |= static_cast<uint32_t>(static_cast<uint8_t>(d[i])) << (8 * i);
    return p;
  }
  uint8_t* block() { return block_; }

 private:
  uint8_t block_[recmgr::kPositionBlockSize];
};

// Code page 850 to UTF-8 for the printable text column of a dump.
std::string Cp850ToUtf8(const std::string& bytes) {
  static const char* const kHigh[128] = {
      "Ç",        "ü", "é", "â", "ä", "à", "å", "ç", "ê", "ë", "è", "ï", "î", "ì", "Ä", "Å",
      "É",        "æ", "Æ", "ô", "ö", "ò", "û", "ù", "ÿ", "Ö", "Ü", "ø", "£", "Ø", "×", "ƒ",
      "á",        "í", "ó", "ú", "ñ", "Ñ", "ª", "º", "¿", "®", "¬", "½", "¼", "¡", "«", "»",
      "░",        "▒", "▓", "│", "┤", "Á", "Â", "À", "©", "╣", "║", "╗", "╝", "¢", "¥", "┐",
      "└",        "┴", "┬", "├", "─", "┼", "ã", "Ã", "╚", "╔", "╩", "╦", "╠", "═", "╬", "¤",
      "ð",        "Ð", "Ê", "Ë", "È", "ı", "Í", "Î", "Ï", "┘", "┌", "█", "▄", "¦", "Ì", "▀",
      "Ó",        "ß", "Ô", "Ò", "õ", "Õ", "µ", "þ", "Þ", "Ú", "Û", "Ù", "ý", "Ý", "¯", "´",
      "\xC2\xAD", "±", "‗", "¾", "¶", "§", "÷", "¸", "°", "¨", "·", "¹", "³", "²", "■", " "};
  std::string out;
  for (char c : bytes) {
    const uint8_t u = static_cast<uint8_t>(c);
    if (u >= 0x80) {
      out += kHigh[u - 0x80];
    } else if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      out += '.';
    }
  }
  return out;
}

int Create(const std::vector<std::string>& args) {
  if (args.size() < 2) return Fail("create needs FILE and XDF");
  const bool replace = args.size() > 2 && args[2] == "--replace";
  std::string xdf;
  if (!ReadAll(args[1], &xdf)) return Fail("cannot read " + args[1]);
  if (xdf.size() < 2) return Fail(args[1] + ": not a definition file");
  const size_t count = static_cast<uint8_t>(xdf[0]) | (static_cast<uint8_t>(xdf[1]) << 8);
  if (xdf.size() < 2 + count) return Fail(args[1] + ": shorter than its count says");
  std::string data = xdf.substr(2, count);
  uint32_t n = static_cast<uint32_t>(data.size());
  std::string key = args[0];
  if (key.size() > 255) return Fail("path too long");
  Status s =
      RecordManagerCall(recmgr::kOpCreate, nullptr, data.data(), &n, key.data(),
                        static_cast<uint8_t>(key.size()), replace ? 0 : recmgr::kCreateNoReplace);
  return s == 0 ? 0 : FailStatus("create " + args[0], s);
}

int Load(const std::string& owner, const std::vector<std::string>& args) {
  if (args.size() < 2) return Fail("load needs FILE and SEQ");
  std::string text;
  if (!ReadAll(args[1], &text)) return Fail("cannot read " + args[1]);
  // Views into the text: no copy of each record.
  std::vector<std::string_view> records;
  std::string error;
  if (!recmgr_tool::ParseSequentialRecords(text, &records, &error)) return Fail(error);
  File f;
  if (Status s = f.Open(args[0], owner); s != 0) return FailStatus("open " + args[0], s);
  int64_t failed = -1;
  Status s = recmgr::InsertAll(f.block(), records, &failed);
  if (s != 0) {
    return FailStatus(failed >= 0 ? "record " + std::to_string(failed + 1) : "load", s);
  }
  return 0;
}

int Save(const std::string& owner, const std::vector<std::string>& args) {
  if (args.size() < 2) return Fail("save needs FILE and SEQ");
  int key = 0;
  for (size_t i = 2; i + 1 < args.size(); ++i) {
    if (args[i] == "--key") key = std::atoi(args[i + 1].c_str());
  }
  File f;
  if (Status s = f.Open(args[0], owner); s != 0) return FailStatus("open " + args[0], s);
  // Records are written as they are read, so memory stays flat however
  // large the file. A named output is written beside its place and renamed
  // at the end: a failed save leaves what was there before.
  std::FILE* out = stdout;
  std::string part;
  if (args[1] != "-") {
    part = args[1] + ".part";
    out = std::fopen(part.c_str(), "wb");
    if (out == nullptr) return Fail("cannot write " + args[1]);
  }
  auto abandon = [&] {
    if (part.empty()) return;
    std::fclose(out);
    std::remove(part.c_str());
  };
  std::string record;
  Status s = f.Read(recmgr::kOpGetFirst, static_cast<int8_t>(key), &record);
  for (; s == 0; s = f.Read(recmgr::kOpGetNext, static_cast<int8_t>(key), &record)) {
    std::fprintf(out, "%zu,", record.size());
    std::fwrite(record.data(), 1, record.size(), out);
    std::fputs("\r\n", out);
  }
  if (s != recmgr::kEndOfFile) {
    abandon();
    return FailStatus("read", s);
  }
  std::fputc('\x1A', out);
  bool written = std::fflush(out) == 0 && !std::ferror(out);
  if (part.empty()) return written ? 0 : Fail("write failed");
  written = std::fclose(out) == 0 && written;
  if (!written || std::rename(part.c_str(), args[1].c_str()) != 0) {
    std::remove(part.c_str());
    return Fail("cannot write " + args[1]);
  }
  return 0;
}

int StatCommand(const std::string& owner, const std::vector<std::string>& args) {
  if (args.empty()) return Fail("stat needs FILE");
  File f;
  if (Status s = f.Open(args[0], owner); s != 0) return FailStatus("open " + args[0], s);
  recmgr::FileDefinition def;
  std::string raw;
  if (Status s = f.Stat(&def, &raw); s != 0) return FailStatus("stat", s);
  auto u32 = [&raw](size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= static_cast<uint32_t>(static_cast<uint8_t>(raw[at + i])) << (8 * i);
    return v;
  };
  std::printf("record length %d\nrecords %u\nkeys %zu\n", def.record_length, u32(6),
              def.keys.size());
  size_t at = recmgr::kFileSpecSize;
  for (size_t k = 0; k < def.keys.size(); ++k) {
    std::printf("key %zu: length %d%s, distinct %u\n", k, def.keys[k].length,
                def.keys[k].duplicates ? ", duplicates" : "", u32(at + 6));
    for (const recmgr::Segment& seg : def.keys[k].segments) {
      std::printf("  position %d length %d flags 0x%04x\n", seg.position, seg.length, seg.flags);
      at += recmgr::kSegmentSpecSize;
    }
  }
  return 0;
}

int Dump(const std::string& owner, const std::vector<std::string>& args) {
  if (args.empty()) return Fail("dump needs FILE");
  int key = 0;
  long limit = -1;
  for (size_t i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--key") key = std::atoi(args[i + 1].c_str());
    if (args[i] == "--limit") limit = std::atol(args[i + 1].c_str());
  }
  File f;
  if (Status s = f.Open(args[0], owner); s != 0) return FailStatus("open " + args[0], s);
  std::string record;
  Status s = f.Read(recmgr::kOpGetFirst, static_cast<int8_t>(key), &record);
  for (long n = 0; s == 0 && (limit < 0 || n < limit); ++n) {
    std::string hex;
    char b[4];
    for (char c : record) {
      std::snprintf(b, sizeof(b), "%02x", static_cast<uint8_t>(c));
      hex += b;
    }
    std::printf("%u %s %s\n", f.Position(), hex.c_str(), Cp850ToUtf8(record).c_str());
    s = f.Read(recmgr::kOpGetNext, static_cast<int8_t>(key), &record);
  }
  if (s != 0 && s != recmgr::kEndOfFile) return FailStatus("read", s);
  return 0;
}

int Lock(const std::string& owner, const std::vector<std::string>& args) {
  if (args.empty()) return Fail("lock needs FILE");
  long record = -1, seconds = -1;
  bool whole = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--file") whole = true;
    if (args[i] == "--record" && i + 1 < args.size()) record = std::atol(args[i + 1].c_str());
    if (args[i] == "--seconds" && i + 1 < args.size()) seconds = std::atol(args[i + 1].c_str());
  }
  if (seconds < 0 || whole == (record >= 0))
    return Fail("lock needs --record POS or --file, and --seconds S");
  File f;
  Status s = f.Open(args[0], owner, whole ? recmgr::kOpenExclusive : recmgr::kOpenNormal);
  if (s != 0) return FailStatus("open " + args[0], s);
  if (!whole) {
    std::string data(recmgr::kMaxRecordLength, ' ');
    for (int i = 0; i < 4; ++i)
      data[i] = static_cast<char>(static_cast<uint32_t>(record) >> (8 * i));
    uint32_t n = static_cast<uint32_t>(data.size());
    char k[256] = {};
    s = RecordManagerCall(recmgr::kOpGetDirect + recmgr::kLockNoWaitBias, f.block(), data.data(),
                          &n, k, 0, 0);
    if (s != 0 && s != recmgr::kDataBufferShort) return FailStatus("lock record", s);
  }
  std::printf("locked\n");
  std::fflush(stdout);
  ::sleep(static_cast<unsigned>(seconds));
  return 0;
}

int Owner(const std::string& owner, const std::vector<std::string>& args) {
  if (args.size() < 2) return Fail("owner needs FILE and NAME");
  File f;
  if (Status s = f.Open(args[0], owner); s != 0) return FailStatus("open " + args[0], s);
  Status s = recmgr::SetOwnerName(f.block(), args[1]);
  return s == 0 ? 0 : FailStatus("owner", s);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string owner = datafiles::RecordFileOwnerName();
  if (args.size() >= 2 && args[0] == "--owner") {
    owner = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "create") return Create(args);
  if (command == "load") return Load(owner, args);
  if (command == "save") return Save(owner, args);
  if (command == "stat") return StatCommand(owner, args);
  if (command == "dump") return Dump(owner, args);
  if (command == "lock") return Lock(owner, args);
  if (command == "owner") return Owner(owner, args);
  return Fail("unknown command '" + command + "' (see --help)");
}
