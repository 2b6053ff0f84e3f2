#include "platform/statement_register.h"

#include <cctype>
#include <charconv>

#include "platform/blanks.h"

namespace platform {

namespace {

constexpr char kMagic[] = "TELVORAN-REGISTRE";
constexpr char kVersion[] = "1";
constexpr size_t kEntryFields = 18;  // "S" and the 17 fields of an entry

// A value on one line between tabs: control characters become blanks.
std::string Field(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return out;
}

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> fields;
  for (size_t at = 0;;) {
    const size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
    if (tab == std::string_view::npos) return fields;
    at = tab + 1;
  }
}

bool Number(std::string_view text, int64_t* value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end;
}

bool Date(std::string_view text, bool may_be_empty) {
  if (text.empty()) return may_be_empty;
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string Padded(const std::string& code, size_t width) {
  return code.size() >= width ? code : std::string(width - code.size(), '0') + code;
}

}  // namespace

std::string RegisterHeader() { return std::string(kMagic) + "\t" + kVersion; }

std::string RegisterLine(const StatementEntry& e) {
  std::string line = "S";
  auto add = [&line](std::string_view value) {
    line += '\t';
    line += Field(value);
  };
  auto add_number = [&add](int64_t value) { add(std::to_string(value)); };
  add(e.community_code);
  add(e.community_name);
  add(e.flat_code);
  add(e.owner_name);
  add(e.flat);
  add_number(e.copy);
  add_number(e.first_page);
  add_number(e.pages);
  add(e.period_from);
  add(e.period_to);
  add_number(e.carried_balance);
  add_number(e.total_expenses);
  add_number(e.fee);
  add_number(e.total_collections);
  add_number(e.balance);
  add(e.favours_community ? "C" : "A");
  add(e.file);
  return line;
}

std::string RegisterTrailer(int64_t print_file_bytes, int64_t pages, size_t entries) {
  return "FI\t" + std::to_string(print_file_bytes) + "\t" + std::to_string(pages) + "\t" +
         std::to_string(entries);
}

bool ParseRegister(std::string_view text, StatementRegister* out, std::string* why) {
  *out = StatementRegister{};
  auto fail = [why](const char* reason) {
    *why = reason;
    return false;
  };
  int64_t line_number = 0;
  bool trailer = false;
  int64_t next_page = 1;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) return fail("el registre acaba a mitja l\xa1nia");
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++line_number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (trailer) return fail("hi ha l\xa1nies despr\x82s del final del registre");
    const std::vector<std::string_view> f = Split(line);
    if (line_number == 1) {
      if (f.size() != 2 || f[0] != kMagic) return fail("no \x82s un registre de fulls");
      if (f[1] != kVersion) return fail("el registre \x82s d'una altra versi\xa2");
      continue;
    }
    if (f[0] == "FI") {
      int64_t entries = 0;
      if (f.size() != 4 || !Number(f[1], &out->print_file_bytes) || !Number(f[2], &out->pages) ||
          !Number(f[3], &entries)) {
        return fail("el final del registre no es pot llegir");
      }
      if (entries != static_cast<int64_t>(out->entries.size()) || out->pages != next_page - 1) {
        return fail("el final del registre no correspon als fulls");
      }
      trailer = true;
      continue;
    }
    if (f[0] != "S" || f.size() != kEntryFields) return fail("l\xa1nia del registre mal formada");
    StatementEntry e;
    e.community_code = f[1];
    e.community_name = f[2];
    e.flat_code = f[3];
    e.owner_name = f[4];
    e.flat = f[5];
    int64_t copy = 0;
    const bool numbers = Number(f[6], &copy) && Number(f[7], &e.first_page) &&
                         Number(f[8], &e.pages) && Number(f[11], &e.carried_balance) &&
                         Number(f[12], &e.total_expenses) && Number(f[13], &e.fee) &&
                         Number(f[14], &e.total_collections) && Number(f[15], &e.balance);
    if (!numbers || copy < 1 || copy > 1000000 || e.community_code.empty() ||
        !Date(f[9], true) || !Date(f[10], false) || (f[16] != "C" && f[16] != "A")) {
      return fail("l\xa1nia del registre mal formada");
    }
    e.copy = static_cast<int>(copy);
    e.period_from = f[9];
    e.period_to = f[10];
    e.favours_community = f[16] == "C";
    e.file = f[17];
    if (e.first_page != next_page || e.pages < 1) {
      return fail("les p\x85gines del registre no se segueixen");
    }
    next_page += e.pages;
    out->entries.push_back(std::move(e));
  }
  if (line_number == 0) return fail("no \x82s un registre de fulls");
  if (!trailer) return fail("el registre s'acaba abans del final");
  return true;
}

std::string StatementFileName(const StatementEntry& e) {
  std::string name = Padded(e.community_code, 4);
  if (e.per_owner()) {
    name += "-" + Padded(e.flat_code, 4);
  } else if (e.copy > 1) {
    name += "_" + Padded(std::to_string(e.copy), 2);
  }
  return name + ".pdf";
}

bool IsAbsolutePath(std::string_view path) {
  if (path.empty()) return false;
  if (path[0] == '\\' || path[0] == '/') return true;
  return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

std::string StatementFolderOfDevice(std::string_view device_text, const std::string& temp_dir,
                                    bool* mail) {
  std::string_view text = TrimView(device_text, " \t");
  auto consume = [&text](std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
      if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    text.remove_prefix(prefix.size());
    return true;
  };
  const bool is_folder = consume("DIR:");
  const bool is_mail = !is_folder && consume("CORREU:");
  if (mail != nullptr) *mail = is_mail;
  if (!is_folder && !is_mail) return {};
  text = TrimView(text, " \t");
  std::string folder = text.empty()           ? temp_dir + kDefaultStatementFolder
                       : IsAbsolutePath(text) ? std::string(text)
                                              : temp_dir + std::string(text);
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/' && folder.back() != ':') {
    folder += '\\';
  }
  return folder;
}

}  // namespace platform
