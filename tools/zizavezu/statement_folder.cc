#include "tools/zizavezu/statement_folder.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "platform/cp850.h"

namespace zizavezu {

namespace {

// Reads digits from *s; false when there is none.
bool ConsumeDigits(std::string_view* s) {
  size_t n = 0;
  while (n < s->size() && std::isdigit(static_cast<unsigned char>((*s)[n]))) ++n;
  s->remove_prefix(n);
  return n > 0;
}

void AppendField(std::string* row, std::string_view utf8) {
  if (!row->empty()) *row += ';';
  *row += CsvField(utf8);
}

}  // namespace

bool IsStatementFolderFile(std::string_view name) {
  if (name == kSummaryCsvName || name == platform::kFolderRegisterName) return true;
  if (!name.ends_with(".pdf")) return false;
  name.remove_suffix(4);
  if (!ConsumeDigits(&name)) return false;
  if (name.starts_with('-')) {
    name.remove_prefix(1);
    if (!ConsumeDigits(&name)) return false;
  }
  if (name.starts_with('_')) {
    name.remove_prefix(1);
    if (!ConsumeDigits(&name)) return false;
  }
  return name.empty();
}

bool RemoveStatementFolderFiles(platform::Env& env, const std::string& folder,
                                std::string* failed) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(env.HostPathOf(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!IsStatementFolderFile(name)) continue;
    // The entry itself, not what a link points at.
    const fs::file_status st = it->symlink_status(ec);
    if (ec) break;
    if (fs::is_regular_file(st) || fs::is_symlink(st)) names.push_back(name);
  }
  if (ec) {
    *failed = folder;
    return false;
  }
  // The register first: a folder without it is not a complete one.
  std::stable_partition(names.begin(), names.end(),
                        [](const std::string& n) { return n == platform::kFolderRegisterName; });
  for (const std::string& name : names) {
    if (!env.DeleteFile(folder + name)) {
      *failed = folder + name;
      return false;
    }
  }
  return true;
}

bool CreateFolders(platform::Env& env, const std::string& folder) {
  if (env.IsDirectory(folder)) return true;
  // Each level from the top, skipping what is there.
  for (size_t at = 0; at < folder.size(); ++at) {
    const char c = folder[at];
    if ((c != '\\' && c != '/') || at == 0) continue;
    const std::string level = folder.substr(0, at);
    if (level.back() == ':' || env.IsDirectory(level)) continue;
    if (!env.CreateDirectory(level)) return false;
  }
  return env.CreateDirectory(folder);
}

std::string DecimalCommaAmount(int64_t cents) {
  const bool negative = cents < 0;
  // Unsigned, so that the lowest value has a magnitude too.
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
  std::string fraction = std::to_string(magnitude % 100);
  if (fraction.size() < 2) fraction.insert(0, "0");
  return (negative ? "-" : "") + std::to_string(magnitude / 100) + "," + fraction;
}

std::string DisplayDate(std::string_view d) {
  if (d.size() != 8) return std::string(d);
  return std::string(d.substr(6, 2)) + "/" + std::string(d.substr(4, 2)) + "/" +
         std::string(d.substr(0, 4));
}

std::string CsvField(std::string_view utf8) {
  if (utf8.find_first_of(";\"\r\n") == std::string_view::npos) return std::string(utf8);
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string SummaryCsv(const std::vector<platform::StatementEntry>& entries,
                       const std::string& header_utf8, const std::string& community_utf8,
                       const std::string& administrator_utf8) {
  std::string csv = "\xef\xbb\xbf" + header_utf8 + "\r\n";
  for (const platform::StatementEntry& e : entries) {
    std::string row;
    AppendField(&row, platform::Cp850ToUtf8(e.file));
    AppendField(&row, platform::Cp850ToUtf8(e.community_code));
    AppendField(&row, platform::Cp850ToUtf8(e.community_name));
    AppendField(&row, platform::Cp850ToUtf8(e.flat_code));
    AppendField(&row, platform::Cp850ToUtf8(e.owner_name));
    AppendField(&row, platform::Cp850ToUtf8(e.flat));
    AppendField(&row, std::to_string(e.copy));
    AppendField(&row, std::to_string(e.pages));
    AppendField(&row, DisplayDate(e.period_from));
    AppendField(&row, DisplayDate(e.period_to));
    for (int64_t cents :
         {e.carried_balance, e.total_expenses, e.fee, e.total_collections, e.balance}) {
      AppendField(&row, DecimalCommaAmount(cents));
    }
    AppendField(&row, e.favours_community ? community_utf8 : administrator_utf8);
    csv += row + "\r\n";
  }
  return csv;
}

StatementFolderSink::StatementFolderSink(platform::Env* env, std::string folder,
                                         const std::vector<platform::StatementEntry>* entries,
                                         Diagnostics* diagnostics, InfoOf info_of)
    : env_(env),
      folder_(std::move(folder)),
      entries_(entries),
      diagnostics_(diagnostics),
      info_of_(std::move(info_of)) {}

StatementFolderSink::~StatementFolderSink() { Close(); }

bool StatementFolderSink::FinishCurrent() {
  if (current_ == nullptr) return true;
  const bool ok = current_->Close();
  bytes_ += current_->bytes_written();
  if (!ok && error_.empty()) error_ = current_->error();
  current_.reset();
  if (ok) ++files_;
  return ok;
}

bool StatementFolderSink::EmitPage(const Page& page) {
  if (!error_.empty() || closed_) return false;
  if (entry_ >= entries_->size()) {
    error_ = Localized("el fitxer d'impressi\xa2 t\x82 m\x82s p\x85gines que el registre de fulls");
    return false;
  }
  const platform::StatementEntry& entry = (*entries_)[entry_];
  if (current_ == nullptr) {
    current_ = std::make_unique<PdfSink>(env_, folder_ + entry.file, diagnostics_, fonts_);
    if (info_of_) current_->SetDocumentInfo(info_of_(entry));
  }
  if (!current_->EmitPage(page)) {
    error_ = current_->error();
    current_.reset();
    return false;
  }
  if (++entry_pages_ == entry.pages) {
    entry_pages_ = 0;
    ++entry_;
    return FinishCurrent();
  }
  return true;
}

bool StatementFolderSink::Close() {
  if (closed_) return error_.empty();
  closed_ = true;
  if (current_ != nullptr && error_.empty()) {
    FinishCurrent();
  }
  current_.reset();
  if (error_.empty() && entry_ < entries_->size()) {
    error_ = Localized("el fitxer d'impressi\xa2 t\x82 menys p\x85gines que el registre de fulls");
  }
  return error_.empty();
}

}  // namespace zizavezu
