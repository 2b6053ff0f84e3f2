#include "mail/contacts.h"

#include <gmime/gmime.h>

#include <mutex>

#include "platform/cp850.h"

namespace mail {

namespace {

// Windows-1252's 0x80-0x9F; the rest of its upper half is Latin-1's.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0xA0) {
      platform::AppendUtf8(kCp1252High[c - 0x80], &out);
    } else {
      platform::AppendUtf8(c, &out);
    }
  }
  return out;
}

bool IsAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::string Trim(std::string_view s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string_view::npos) return "";
  const size_t b = s.find_last_not_of(" \t");
  return std::string(s.substr(a, b - a + 1));
}

// The fields of one line, quotes removed ("" stands for one quote).
std::vector<std::string> SplitFields(std::string_view line, char separator) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == separator) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  for (std::string& f : fields) f = Trim(f);
  return fields;
}

char DetectSeparator(std::string_view first_line) {
  bool quoted = false;
  for (char c : first_line) {
    if (c == '"') quoted = !quoted;
    if (!quoted && c == ';') return ';';
  }
  return ',';
}

bool IsNumber(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string LanguageOf(const std::string& field) {
  std::string f;
  for (char c : field) f += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (f == "CA" || f == "CAT") return "CAT";
  if (f == "ES" || f == "SPA") return "SPA";
  if (f == "GL" || f == "GLG") return "GLG";
  if (f == "OC" || f == "OCI") return "OCI";
  return "";
}

void InitMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

}  // namespace

std::string CanonicalCode(std::string_view code) {
  std::string c = Trim(code);
  const size_t nz = c.find_first_not_of('0');
  if (nz == std::string::npos) return c.empty() ? c : "0";
  return c.substr(nz);
}

bool ValidAddress(const std::string& address) {
  const size_t at = address.find('@');
  if (at == std::string::npos || at == 0 || address.find('@', at + 1) != std::string::npos) {
    return false;
  }
  const std::string domain = address.substr(at + 1);
  if (domain.empty() || domain.find('.') == std::string::npos || domain.front() == '.' ||
      domain.back() == '.' || domain.find("..") != std::string::npos) {
    return false;
  }
  for (unsigned char c : address) {
    if (c <= 0x20 || c == 0x7F || c == '<' || c == '>' || c == '(' || c == ')' || c == ',' ||
        c == ';' || c == ':' || c == '"' || c == '[' || c == ']' || c == '\\') {
      return false;
    }
  }
  InitMime();
  InternetAddressList* list = internet_address_list_parse(nullptr, address.c_str());
  if (list == nullptr) return false;
  bool ok = false;
  if (internet_address_list_length(list) == 1) {
    InternetAddress* a = internet_address_list_get_address(list, 0);
    if (INTERNET_ADDRESS_IS_MAILBOX(a)) {
      const char* parsed = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
      ok = parsed != nullptr && address == parsed;
    }
  }
  g_object_unref(list);
  return ok;
}

std::vector<Contact> ParseContacts(std::string_view bytes, std::vector<ContactProblem>* problems) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  const std::string text = IsAscii(bytes) || platform::IsUtf8Text(bytes)
                               ? std::string(bytes)
                               : Cp1252ToUtf8(bytes);
  std::vector<Contact> contacts;
  char separator = 0;
  int number = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    ++number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (Trim(line).empty()) continue;
    const bool first = separator == 0;
    if (first) separator = DetectSeparator(line);
    std::vector<std::string> f = SplitFields(line, separator);
    // Spreadsheets pad rows with empty cells.
    while (f.size() > 1 && f.back().empty()) f.pop_back();
    if (!IsNumber(f[0])) {
      if (first) continue;  // the header row
      problems->push_back({number, "el codi de comunitat no \x82s un nombre", f[0]});
      continue;
    }
    if (f.size() < 2 || !IsNumber(f[1])) {
      problems->push_back(
          {number, "el codi de pis no \x82s un nombre", f.size() < 2 ? "" : f[1]});
      continue;
    }
    Contact c;
    c.community = CanonicalCode(f[0]);
    c.flat = CanonicalCode(f[1]);
    c.line = number;
    size_t last = f.size();
    if (last > 3 && !LanguageOf(f[last - 1]).empty()) {
      c.language = LanguageOf(f[last - 1]);
      --last;
    }
    bool bad = false;
    for (size_t i = 2; i < last && !bad; ++i) {
      std::string word;
      auto take = [&] {
        if (word.empty()) return;
        if (!ValidAddress(word)) {
          problems->push_back({number, "l'adre\x87" "a no \x82s v\x85lida", word});
          bad = true;
        } else {
          c.addresses.push_back(word);
        }
        word.clear();
      };
      for (char ch : f[i]) {
        if (ch == ' ' || ch == '\t' || ch == ',' || ch == ';') {
          take();
          if (bad) break;
        } else {
          word += ch;
        }
      }
      if (!bad) take();
    }
    if (bad) continue;
    if (c.addresses.empty()) {
      problems->push_back({number, "no hi ha cap adre\x87" "a", ""});
      continue;
    }
    contacts.push_back(std::move(c));
  }
  return contacts;
}

}  // namespace mail
