#include "tools/recmgr/sequential_records.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/locale.h"

namespace recmgr_tool {

namespace {

// The longest record: six digits of length, the comma, the bytes, CR LF.
constexpr size_t kLongestRecord = 6 + 1 + 999999 + 2;

// The messages are code page 850 in the installation's language (the
// Catalan text is the locale file's key); the tool converts them for the
// terminal.
std::string RecordError(int64_t n, Step step) {
  return config::TranslateWith(step == Step::kBadLength
                                   ? "registre @1: longitud incorrecta"
                                   : "registre @1: final de registre incorrecte",
                               {std::to_string(n)});
}

std::string NoEndMark() {
  return config::Translate("no hi ha Ctrl-Z al final: el fitxer pot estar tallat");
}

// What may follow the Ctrl-Z: nothing, or the line end an editor adds. Two
// exports joined with cat (or anything else after the mark) must not load
// as the first one alone.
bool MayFollowEndMark(std::string_view rest) {
  return rest.empty() || rest == "\n" || rest == "\r\n";
}
// The same for a text that may still grow: what is there can still become
// one of those.
bool MayYetFollowEndMark(std::string_view rest) { return MayFollowEndMark(rest) || rest == "\r"; }

// mark: the Ctrl-Z's offset from the start of the file; records: the records
// before it.
std::string DataAfterEndMark(uint64_t mark, int64_t records) {
  return config::TranslateWith(
      "hi ha dades despr\x82s de la marca de final (Ctrl-Z a l'octet @1, despr\x82s de @2 "
      "registres)",
      {std::to_string(mark + 1), std::to_string(records)});
}

}  // namespace

Step NextSequentialRecord(std::string_view text, size_t at, std::string_view* record,
                          size_t* next) {
  if (at >= text.size()) return Step::kNeedMore;
  if (text[at] == '\x1A') return Step::kEnd;
  size_t length = 0;
  size_t i = at;
  for (; i < text.size() && text[i] != ','; ++i) {
    if (text[i] < '0' || text[i] > '9' || i - at >= 6) return Step::kBadLength;
    length = length * 10 + static_cast<size_t>(text[i] - '0');
  }
  if (i == text.size()) return Step::kNeedMore;
  if (i == at) return Step::kBadLength;
  const size_t body = i + 1;
  if (body + length + 2 > text.size()) {
    // What is there must still be able to become a record ending.
    if (body + length < text.size() && text[body + length] != '\r') return Step::kBadEnding;
    return Step::kNeedMore;
  }
  if (text[body + length] != '\r' || text[body + length + 1] != '\n') return Step::kBadEnding;
  *record = text.substr(body, length);
  *next = body + length + 2;
  return Step::kRecord;
}

bool ParseSequentialRecords(std::string_view text, std::vector<std::string_view>* records,
                            std::string* error) {
  records->clear();
  records->reserve(text.size() / 32);
  size_t at = 0;
  for (;;) {
    std::string_view record;
    const Step step = NextSequentialRecord(text, at, &record, &at);
    switch (step) {
      case Step::kRecord:
        records->push_back(record);
        break;
      case Step::kEnd:
        if (MayFollowEndMark(text.substr(at + 1))) return true;
        *error = DataAfterEndMark(at, static_cast<int64_t>(records->size()));
        return false;
      case Step::kNeedMore:
        // Without its end mark a file cut at a record boundary would pass
        // for a whole one.
        *error = NoEndMark();
        return false;
      default:
        *error = RecordError(static_cast<int64_t>(records->size()) + 1, step);
        return false;
    }
  }
}

bool SequentialReader::Fill() {
  buf_.erase(0, at_);
  consumed_ += at_;
  at_ = 0;
  const size_t had = buf_.size();
  buf_.resize(had + chunk_);
  for (;;) {
    const ssize_t n = ::read(fd_, buf_.data() + had, chunk_);
    if (n >= 0) {
      buf_.resize(had + static_cast<size_t>(n));
      eof_ = n == 0;
      return true;
    }
    if (errno != EINTR) {
      buf_.resize(had);
      error_ = config::TranslateWith("no es pot llegir: @1", {std::strerror(errno)});
      return false;
    }
  }
}

bool SequentialReader::Next(std::vector<std::string_view>* batch) {
  batch->clear();
  if (!error_.empty()) return false;
  if (ended_) return true;
  for (;;) {
    std::string_view record;
    size_t next = 0;
    const Step step = NextSequentialRecord(buf_, at_, &record, &next);
    if (step == Step::kRecord) {
      batch->push_back(record);
      ++records_;
      at_ = next;
      continue;
    }
    if (step == Step::kEnd) {
      // The batch's views live in the buffer, which reading on would move:
      // the bytes after the mark are looked at in the next call.
      if (!batch->empty()) return true;
      for (;;) {
        const std::string_view rest = std::string_view(buf_).substr(at_ + 1);
        if (eof_ ? !MayFollowEndMark(rest) : !MayYetFollowEndMark(rest)) {
          error_ = DataAfterEndMark(consumed_ + at_, records_);
          return false;
        }
        if (eof_) break;
        if (!Fill()) return false;
      }
      ended_ = true;
      return true;
    }
    if (step != Step::kNeedMore) {
      error_ = RecordError(records_ + 1, step);
      return false;
    }
    // A batch is whatever whole records the buffer held; the next call
    // reads on. Only an empty batch needs more bytes now.
    if (!batch->empty()) return true;
    if (eof_) {
      error_ = NoEndMark();
      return false;
    }
    if (buf_.size() - at_ > kLongestRecord) {
      error_ = RecordError(records_ + 1, Step::kBadEnding);
      return false;
    }
    if (!Fill()) return false;
  }
}

}  // namespace recmgr_tool
