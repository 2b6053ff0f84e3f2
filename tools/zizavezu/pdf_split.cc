#include "tools/zizavezu/pdf_split.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <unordered_map>

namespace zizavezu {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f'; }
// A character that may not stand right before or after a reference.
bool IsRegular(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-'; }

// A reference "N 0 R" at text[at], a digit not following a regular
// character: its number, and *after the position past the "R". -1 when
// there is none.
int ReferenceAt(std::string_view text, size_t at, size_t* after) {
  if (!IsDigit(text[at]) || (at > 0 && IsRegular(text[at - 1]))) return -1;
  size_t i = at;
  int64_t number = 0;
  while (i < text.size() && IsDigit(text[i])) {
    number = number * 10 + (text[i] - '0');
    if (number > 100000000) return -1;
    ++i;
  }
  size_t j = i;
  while (j < text.size() && IsSpace(text[j])) ++j;
  if (j == i || j >= text.size() || text[j] != '0') return -1;
  size_t k = j + 1;
  while (k < text.size() && IsSpace(text[k])) ++k;
  if (k == j + 1 || k >= text.size() || text[k] != 'R') return -1;
  if (k + 1 < text.size() && IsRegular(text[k + 1])) return -1;
  *after = k + 1;
  return static_cast<int>(number);
}

// Every reference of a dictionary, in order.
std::vector<int> References(std::string_view dict) {
  std::vector<int> refs;
  for (size_t at = 0; at < dict.size();) {
    size_t after = 0;
    const int n = ReferenceAt(dict, at, &after);
    if (n < 0) {
      ++at;
      continue;
    }
    refs.push_back(n);
    at = after;
  }
  return refs;
}

// The reference that follows key ("/Pages") in dict, or -1.
int ReferenceAfter(std::string_view dict, std::string_view key) {
  const size_t at = dict.find(key);
  if (at == std::string_view::npos) return -1;
  size_t i = at + key.size();
  if (i < dict.size() && IsRegular(dict[i])) return -1;
  while (i < dict.size() && IsSpace(dict[i])) ++i;
  size_t after = 0;
  return i < dict.size() ? ReferenceAt(dict, i, &after) : -1;
}

bool ParseNumber(std::string_view text, size_t* at, int64_t* value) {
  while (*at < text.size() && IsSpace(text[*at])) ++*at;
  if (*at >= text.size() || !IsDigit(text[*at])) return false;
  *value = 0;
  while (*at < text.size() && IsDigit(text[*at])) {
    *value = *value * 10 + (text[*at] - '0');
    if (*value > (int64_t{1} << 48)) return false;
    ++*at;
  }
  return true;
}

}  // namespace

std::string PdfTextString(std::string_view utf8) {
  bool ascii = true;
  for (char c : utf8) ascii = ascii && c >= 0x20 && c < 0x7f;
  if (ascii) {
    std::string out = "(";
    for (char c : utf8) {
      if (c == '(' || c == ')' || c == '\\') out += '\\';
      out += c;
    }
    return out + ")";
  }
  std::string out = "<FEFF";
  auto unit = [&out](unsigned u) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "%04X", u & 0xffff);
    out += hex;
  };
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const int length = b < 0x80 ? 1 : b >> 5 == 6 ? 2 : b >> 4 == 14 ? 3 : b >> 3 == 30 ? 4 : 1;
    unsigned cp = length == 1 ? b : length == 2 ? b & 0x1f : length == 3 ? b & 0x0f : b & 0x07;
    for (int k = 1; k < length && i + k < utf8.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3f);
    }
    i += static_cast<size_t>(length);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xd800 + (cp >> 10));
      unit(0xdc00 + (cp & 0x3ff));
    } else {
      unit(cp);
    }
  }
  return out + ">";
}

std::string_view PdfSplitter::Dict(int number) const {
  const Object& o = objects_[static_cast<size_t>(number)];
  return std::string_view(pdf_).substr(o.begin, o.dict_end - o.begin);
}

bool PdfSplitter::Load(std::string pdf) {
  pdf_ = std::move(pdf);
  objects_.clear();
  kids_.clear();
  const std::string_view d(pdf_);
  const size_t startxref = d.rfind("startxref");
  if (startxref == std::string_view::npos) return false;
  size_t at = startxref + 9;
  int64_t xref = 0;
  if (!ParseNumber(d, &at, &xref) || static_cast<size_t>(xref) >= startxref ||
      d.substr(static_cast<size_t>(xref), 4) != "xref") {
    return false;
  }
  at = static_cast<size_t>(xref) + 4;
  int64_t first = 0, count = 0;
  if (!ParseNumber(d, &at, &first) || !ParseNumber(d, &at, &count) || first != 0 ||
      count > 100000000) {
    return false;
  }
  objects_.resize(static_cast<size_t>(count));
  std::vector<size_t> starts;
  for (int64_t n = 0; n < count; ++n) {
    int64_t offset = 0, generation = 0;
    if (!ParseNumber(d, &at, &offset) || !ParseNumber(d, &at, &generation)) return false;
    while (at < d.size() && IsSpace(d[at])) ++at;
    if (at >= d.size()) return false;
    const char kind = d[at++];
    if (kind == 'n') {
      if (generation != 0 || static_cast<size_t>(offset) >= static_cast<size_t>(xref)) return false;
      objects_[static_cast<size_t>(n)].present = true;
      objects_[static_cast<size_t>(n)].begin = static_cast<size_t>(offset);
      starts.push_back(static_cast<size_t>(offset));
    } else if (kind != 'f') {
      return false;
    }
  }
  std::sort(starts.begin(), starts.end());
  for (size_t n = 0; n < objects_.size(); ++n) {
    Object& o = objects_[n];
    if (!o.present) continue;
    // The object runs to the next one (or the table): a stream's data may
    // hold any bytes, "endobj" among them.
    const auto next = std::upper_bound(starts.begin(), starts.end(), o.begin);
    const size_t limit = next == starts.end() ? static_cast<size_t>(xref) : *next;
    const std::string header = std::to_string(n) + " 0 obj";
    if (d.substr(o.begin, header.size()) != header) return false;
    o.begin += header.size();
    const size_t end = d.substr(0, limit).rfind("endobj");
    if (end == std::string_view::npos || end < o.begin) return false;
    o.end = end;
    const std::string_view body = d.substr(o.begin, o.end - o.begin);
    const size_t stream = body.find("stream");
    o.dict_end = stream == std::string_view::npos ? o.end : o.begin + stream;
  }
  const size_t trailer = d.find("trailer", static_cast<size_t>(xref));
  if (trailer == std::string_view::npos) return false;
  auto valid = [this](int n) {
    return n > 0 && static_cast<size_t>(n) < objects_.size() && objects_[static_cast<size_t>(n)].present;
  };
  const int root = ReferenceAfter(d.substr(trailer, startxref - trailer), "/Root");
  if (!valid(root)) return false;
  pages_object_ = ReferenceAfter(Dict(root), "/Pages");
  if (!valid(pages_object_)) return false;
  const std::string_view tree = Dict(pages_object_);
  const size_t kids = tree.find("/Kids");
  const size_t close = kids == std::string_view::npos ? kids : tree.find(']', kids);
  if (close == std::string_view::npos || tree.find("/Type /Pages") == std::string_view::npos) {
    return false;
  }
  kids_ = References(tree.substr(kids, close - kids));
  for (int kid : kids_) {
    // One level: each kid a page whose parent is the tree.
    if (!valid(kid) || Dict(kid).find("/Type /Page") == std::string_view::npos ||
        Dict(kid).find("/Type /Pages") != std::string_view::npos ||
        ReferenceAfter(Dict(kid), "/Parent") != pages_object_) {
      kids_.clear();
      return false;
    }
  }
  // Every object a page reaches must be there.
  std::vector<char> seen(objects_.size(), 0);
  std::vector<int> stack(kids_.begin(), kids_.end());
  seen[static_cast<size_t>(pages_object_)] = 1;
  while (!stack.empty()) {
    const int n = stack.back();
    stack.pop_back();
    if (seen[static_cast<size_t>(n)]) continue;
    seen[static_cast<size_t>(n)] = 1;
    for (int ref : References(Dict(n))) {
      if (!valid(ref)) {
        kids_.clear();
        return false;
      }
      if (!seen[static_cast<size_t>(ref)]) stack.push_back(ref);
    }
  }
  return true;
}

std::string PdfSplitter::Extract(int64_t first, int64_t count, const PdfDocumentInfo& info) const {
  // 1 the catalog, 2 the page tree, 3 the information; then the objects
  // the pages reach, in the order they are found.
  std::unordered_map<int, int> renumbered{{pages_object_, 2}};
  std::vector<int> order;
  std::vector<int> stack;
  for (int64_t p = first + count - 1; p >= first; --p) stack.push_back(kids_[static_cast<size_t>(p)]);
  while (!stack.empty()) {
    const int n = stack.back();
    stack.pop_back();
    if (renumbered.count(n)) continue;
    renumbered[n] = static_cast<int>(order.size()) + 4;
    order.push_back(n);
    const std::vector<int> refs = References(Dict(n));
    for (auto it = refs.rbegin(); it != refs.rend(); ++it) {
      if (!renumbered.count(*it)) stack.push_back(*it);
    }
  }

  const std::string_view d(pdf_);
  std::string out = "%PDF-1.5\n%\xb5\xed\xae\xfb\n";
  std::vector<size_t> offsets(order.size() + 4, 0);
  auto begin_object = [&](int number) {
    offsets[static_cast<size_t>(number)] = out.size();
    out += std::to_string(number) + " 0 obj";
  };
  begin_object(1);
  out += "\n<< /Type /Catalog\n   /Pages 2 0 R\n>>\nendobj\n";
  begin_object(2);
  out += "\n<< /Type /Pages\n   /Kids [";
  for (int64_t p = first; p < first + count; ++p) {
    out += " " + std::to_string(renumbered.at(kids_[static_cast<size_t>(p)])) + " 0 R";
  }
  out += " ]\n   /Count " + std::to_string(count) + "\n>>\nendobj\n";
  begin_object(3);
  out += "\n<< /Producer (ZIZAVEZU)\n   /Creator (ZIZAVEZU)\n";
  if (!info.title.empty()) out += "   /Title " + PdfTextString(info.title) + "\n";
  if (!info.author.empty()) out += "   /Author " + PdfTextString(info.author) + "\n";
  std::string date;
  for (char c : info.create_date) {
    if (IsDigit(c)) date += c;
  }
  if (!date.empty()) out += "   /CreationDate (D:" + date + ")\n";
  out += ">>\nendobj\n";
  for (size_t i = 0; i < order.size(); ++i) {
    const Object& o = objects_[static_cast<size_t>(order[i])];
    begin_object(static_cast<int>(i) + 4);
    const std::string_view dict = d.substr(o.begin, o.dict_end - o.begin);
    for (size_t at = 0; at < dict.size();) {
      size_t after = 0;
      const int n = ReferenceAt(dict, at, &after);
      if (n < 0) {
        out += dict[at++];
        continue;
      }
      out += std::to_string(renumbered.at(n)) + " 0 R";
      at = after;
    }
    out.append(d.substr(o.dict_end, o.end - o.dict_end));
    out += "endobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(offsets.size()) + "\n0000000000 65535 f \n";
  for (size_t n = 1; n < offsets.size(); ++n) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offsets[n]);
    out += entry;
  }
  out += "trailer\n<< /Size " + std::to_string(offsets.size()) +
         "\n   /Root 1 0 R\n   /Info 3 0 R\n>>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

}  // namespace zizavezu
