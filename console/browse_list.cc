#include "console/browse_list.h"

// Layout of this file:
//   1. the cache entry format (pure);
//   2. BrowseSession: one open list (cache reads, lazy loading from the data
//      file, moves, drawing, the key loop);
//   3. BrowseList: opening, closing and the linked list.

#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <csignal>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "config/locale.h"
#include "config/settings.h"
#include "console/form_engine.h"
#include "console/file_messages_ui.h"
#include "console/form_set.h"
#include "console/keys.h"
#include "console/screen.h"
#include "datafiles/file_messages.h"
#include "datafiles/record_file.h"
#include "platform/blanks.h"
#include "platform/console.h"
#include "platform/env.h"
#include "platform/little_endian.h"

namespace console {

namespace {

BrowseHooks& Hooks() {
  static BrowseHooks hooks;
  return hooks;
}

// Keys the list answers, and the one added when it has a linked list.
constexpr char kBrowseKeys[] = "d,1b,4800,5000,4900,5100,4b00,4d00";
constexpr char kLinkedListKey[] = "3e00";

// Frame characters (code page 850) and the two arrows of the heading, which
// the console shows as the glyphs of bytes 0x11 and 0x10.
constexpr char kFrameTopLeft = '\xC9';   // ╔
constexpr char kFrameTopRight = '\xBB';  // ╗
constexpr char kFrameLine = '\xCD';      // ═
constexpr char kArrowLeft = '\x11';      // ◄
constexpr char kArrowRight = '\x10';     // ►

constexpr int kSidewaysStep = 8;

void PutInt32(std::string* out, int32_t v) {
  platform::AppendLe32(out, static_cast<uint32_t>(v));
}

int32_t GetInt32(std::string_view b, size_t at) {
  return static_cast<int32_t>(platform::LoadLe32(b, at));
}

int16_t GetInt16(std::string_view b, size_t at) {
  return static_cast<int16_t>(platform::LoadLe16(b, at));
}

}  // namespace

// --- 1. Cache entries -------------------------------------------------------

void SetBrowseHooks(BrowseHooks hooks) {
  Hooks() = std::move(hooks);
}

std::string BrowseCachePath() {
  return config::ModuleSettings().temp_dir + "Browse.tmp";
}

namespace {

// An open list owns the cache until it deletes it on closing (a cache the
// caller filled included); a module ended by a signal meanwhile (its
// terminal closed, a kill) must not leave it behind.
char g_signal_cache_path[1024];
volatile sig_atomic_t g_signal_cache_armed = 0;

void RemoveCacheFromSignal() {
  if (!g_signal_cache_armed) return;
  g_signal_cache_armed = 0;
  ::unlink(g_signal_cache_path);
}

void ArmCacheRemoval() {
  if (!platform::PrepareSignalPath(BrowseCachePath(), g_signal_cache_path,
                                   sizeof g_signal_cache_path)) {
    return;
  }
  platform::AddSignalCleanup(&RemoveCacheFromSignal);
  g_signal_cache_armed = 1;
}

}  // namespace

void RemoveBrowseCacheAfterSignal() {
  RemoveCacheFromSignal();
}

std::string EncodeBrowseEntry(const BrowseEntry& entry) {
  // REQUIRES: the length fits the 16-bit length field.
  assert(entry.line.size() <= static_cast<size_t>(kBrowseMaxLineLength));
  std::string out;
  out.reserve(kBrowseEntryHeaderSize + entry.line.size());
  PutInt32(&out, entry.back_link);
  PutInt32(&out, entry.record_position);
  platform::AppendLe16(&out, static_cast<uint16_t>(entry.line.size()));
  out += entry.line;
  return out;
}

std::optional<BrowseEntry> DecodeBrowseEntry(std::string_view bytes, int32_t position) {
  if (position < 1 || bytes.size() < static_cast<size_t>(kBrowseEntryHeaderSize)) {
    return std::nullopt;
  }
  const int16_t length = GetInt16(bytes, 8);
  if (length < 0) return std::nullopt;
  if (bytes.size() - kBrowseEntryHeaderSize < static_cast<size_t>(length)) return std::nullopt;
  BrowseEntry entry;
  entry.back_link = GetInt32(bytes, 0);
  // Back links only point backwards, to an entry that has room for its
  // header before this one; so following them always ends.
  if (entry.back_link < 0) return std::nullopt;
  if (entry.back_link != 0 && static_cast<int64_t>(entry.back_link) >
                                  static_cast<int64_t>(position) - kBrowseEntryHeaderSize) {
    return std::nullopt;
  }
  entry.record_position = GetInt32(bytes, 4);
  entry.line.assign(bytes.data() + kBrowseEntryHeaderSize, static_cast<size_t>(length));
  return entry;
}

// --- 2. One open list -------------------------------------------------------

namespace {

// An entry read from the cache, with where it lies.
struct CachedEntry {
  int64_t position = 0;  // 1-based; 0 = none
  BrowseEntry data;
  int64_t end() const {
    return position + kBrowseEntryHeaderSize + static_cast<int64_t>(data.line.size());
  }
  bool first() const { return data.back_link == 0; }
};

class BrowseSession {
 public:
  BrowseSession(int16_t list, const BrowseListDef& def, platform::RandomAccessFile* cache,
                int64_t cache_size, std::string lowest, std::string highest)
      : list_(list),
        file_(def.attr[kBrowseFile]),
        key_number_(def.attr[kBrowseKey]),
        rows_(def.attr[kBrowseBottom] - def.attr[kBrowseTop] - 1),
        width_(def.attr[kBrowseRight] - def.attr[kBrowseLeft] - 1),
        title_(def.title),
        cache_(cache),
        cache_size_(cache_size),
        end_of_data_(file_ == 0),
        lowest_(std::move(lowest)),
        highest_(std::move(highest)),
        row_positions_(static_cast<size_t>(std::max(rows_, 0)) + 1, 0) {
    // REQUIRES: at least one row and one column inside the frame.
    assert(rows_ >= 1 && width_ >= 1);
  }
  BrowseSession(const BrowseSession&) = delete;
  BrowseSession& operator=(const BrowseSession&) = delete;

  // Draws the first page and runs the key loop; returns the result and the
  // key that ended the loop.
  int16_t Run(int16_t* key);

 private:
  // The entry at a cache position; at the end of the cache, loads the next
  // record with a non-empty line from the data file first.
  std::optional<CachedEntry> ReadAt(int64_t position);
  std::optional<CachedEntry> ReadFromCache(int64_t position);
  // Reads records until one gives a non-empty line (appended to the cache)
  // or the data ends. True when an entry was appended.
  bool LoadNextRecord();
  bool ReachedHighestKey();
  bool Last(const CachedEntry& e) const { return end_of_data_ && e.end() > cache_size_; }
  // The entry the back link of e leads to, when it is intact (it must end
  // where e starts).
  std::optional<CachedEntry> Previous(const CachedEntry& e);

  // Moves the current entry; the moves stop at the first or last entry.
  bool StepForward();
  bool StepBack();
  void MoveForward(int n);
  void MoveBack(int n);

  void DrawHeading();
  void DrawPage();
  void DrawRow(int row, const std::string& line);

  int16_t Choose();

  const int16_t list_;
  const int16_t file_;
  const int16_t key_number_;
  const int rows_;
  const int width_;
  const std::string title_;
  platform::RandomAccessFile* const cache_;
  int64_t cache_size_;
  bool end_of_data_;
  bool started_reading_ = false;
  const std::string lowest_;
  const std::string highest_;
  std::string highest_form_;
  int64_t last_appended_ = 0;

  int cursor_row_ = 1;
  int offset_ = 1;
  int overhang_ = 0;
  int64_t page_first_ = 1;
  int64_t next_page_ = 0;
  std::optional<CachedEntry> current_;
  // Cache position of the entry drawn on each row (0 = blank row).
  std::vector<int64_t> row_positions_;
};

std::optional<CachedEntry> BrowseSession::ReadAt(int64_t position) {
  if (position < 1) return std::nullopt;
  if (position > cache_size_) {
    if (position != cache_size_ + 1 || end_of_data_ || !LoadNextRecord()) return std::nullopt;
  }
  return ReadFromCache(position);
}

std::optional<CachedEntry> BrowseSession::ReadFromCache(int64_t position) {
  if (position < 1 || position > std::numeric_limits<int32_t>::max()) return std::nullopt;
  std::string bytes;
  if (!cache_->Read(static_cast<uint64_t>(position - 1), kBrowseEntryHeaderSize, &bytes) ||
      bytes.size() < static_cast<size_t>(kBrowseEntryHeaderSize)) {
    return std::nullopt;
  }
  const int16_t length = GetInt16(bytes, 8);
  if (length < 0) return std::nullopt;
  if (length > 0 && !cache_->Read(static_cast<uint64_t>(position - 1),
                                  static_cast<size_t>(kBrowseEntryHeaderSize + length), &bytes)) {
    return std::nullopt;
  }
  std::optional<BrowseEntry> entry = DecodeBrowseEntry(bytes, static_cast<int32_t>(position));
  if (!entry) return std::nullopt;
  CachedEntry e;
  e.position = position;
  e.data = std::move(*entry);
  return e;
}

bool BrowseSession::ReachedHighestKey() {
  if (highest_.empty()) return false;
  // Both keys in the file's comparable form, the current one cut to the
  // highest key's length so that a prefix bounds a whole range.
  const std::string current = datafiles::RecordFileCurrentKeyForm(file_);
  const size_t n = highest_.size();
  return current.substr(0, n) > highest_form_.substr(0, n);
}

bool BrowseSession::LoadNextRecord() {
  while (!end_of_data_) {
    datafiles::Status status = 0;
    if (!started_reading_) {
      started_reading_ = true;
      datafiles::RecordFileSeek(file_, key_number_, lowest_, 1, status);
      if (status == 0) highest_form_ = datafiles::RecordFileKeyForm(highest_, file_);
    } else {
      datafiles::RecordFileSkip(file_, 1, status);
    }
    if (status != 0 || ReachedHighestKey()) {
      end_of_data_ = true;
      break;
    }
    // One waiting key per record: Esc stops a long load.
    int16_t key = 0, button = 0, row = 0, col = 0;
    GetKey(key, button, row, col);
    if (key == kKeyEsc) {
      end_of_data_ = true;
      break;
    }
    std::string line = Hooks().line ? platform::TrimRightBlanks(Hooks().line(list_)) : "";
    if (line.empty()) continue;
    if (line.size() > static_cast<size_t>(kBrowseMaxLineLength)) line.resize(kBrowseMaxLineLength);
    BrowseEntry entry;
    entry.back_link = static_cast<int32_t>(last_appended_);
    entry.record_position = datafiles::RecordFileCurrentPosition(file_);
    entry.line = std::move(line);
    const std::string bytes = EncodeBrowseEntry(entry);
    const int64_t position = cache_size_ + 1;
    // Positions are 32-bit; a cache that would outgrow them ends the list.
    if (position + static_cast<int64_t>(bytes.size()) > std::numeric_limits<int32_t>::max() ||
        !cache_->Write(static_cast<uint64_t>(cache_size_), bytes)) {
      end_of_data_ = true;
      break;
    }
    cache_size_ += static_cast<int64_t>(bytes.size());
    last_appended_ = position;
    return true;
  }
  return false;
}

std::optional<CachedEntry> BrowseSession::Previous(const CachedEntry& e) {
  if (e.first()) return std::nullopt;
  std::optional<CachedEntry> p = ReadFromCache(e.data.back_link);
  if (!p || p->end() != e.position) return std::nullopt;
  return p;
}

bool BrowseSession::StepForward() {
  if (!current_ || Last(*current_)) return false;
  std::optional<CachedEntry> next = ReadAt(current_->end());
  if (!next) return false;
  current_ = std::move(next);
  return true;
}

bool BrowseSession::StepBack() {
  if (!current_) return false;
  std::optional<CachedEntry> previous = Previous(*current_);
  if (!previous) return false;
  current_ = std::move(previous);
  return true;
}

void BrowseSession::MoveForward(int n) {
  for (int i = 0; i < n && StepForward(); ++i) {
  }
}

void BrowseSession::MoveBack(int n) {
  for (int i = 0; i < n && StepBack(); ++i) {
  }
}

void BrowseSession::DrawHeading() {
  SetColour("+n");
  std::string cells;
  cells.reserve(static_cast<size_t>(width_) + 2);
  cells.push_back(offset_ == 1 ? kFrameTopLeft : kArrowLeft);
  for (int c = 1; c <= width_; ++c) {
    const size_t at = static_cast<size_t>(offset_ + c - 2);
    const char ch = at < title_.size() ? title_[at] : ' ';
    cells.push_back(ch == ' ' ? kFrameLine : ch == '_' ? ' ' : ch);
  }
  const bool title_shown_to_end =
      static_cast<int64_t>(title_.size()) <= static_cast<int64_t>(offset_) + width_ - 1;
  cells.push_back(offset_ > overhang_ && title_shown_to_end ? kFrameTopRight : kArrowRight);
  Locate(0, 0);
  Print(cells);
  SetColour("-");
}

void BrowseSession::DrawRow(int row, const std::string& line) {
  std::string shown;
  if (static_cast<size_t>(offset_ - 1) < line.size()) {
    shown = line.substr(static_cast<size_t>(offset_ - 1), static_cast<size_t>(width_));
  }
  shown.resize(static_cast<size_t>(width_), ' ');
  Locate(row, 1);
  Print(shown);
}

void BrowseSession::DrawPage() {
  std::fill(row_positions_.begin(), row_positions_.end(), 0);
  int64_t position = page_first_;
  int drawn = 0;
  bool at_end = false;
  for (int row = 1; row <= rows_; ++row) {
    std::optional<CachedEntry> e = ReadAt(position);
    if (!e) {
      at_end = true;
      break;
    }
    DrawRow(row, e->data.line);
    overhang_ = std::max(overhang_, static_cast<int>(e->data.line.size()) - width_);
    row_positions_[static_cast<size_t>(row)] = e->position;
    drawn = row;
    position = e->end();
    if (Last(*e)) {
      at_end = true;
      break;
    }
  }
  for (int row = drawn + 1; row <= rows_; ++row) DrawRow(row, std::string());
  next_page_ = at_end ? 0 : position;
  if (at_end && cursor_row_ > drawn) cursor_row_ = std::max(drawn, 1);

  // The cursor row shows the current entry. The moves keep that so; a cache
  // changed behind our back is brought into line here.
  if (drawn == 0) {
    current_.reset();
    cursor_row_ = 1;
    return;
  }
  if (current_) {
    for (int row = 1; row <= drawn; ++row) {
      if (row_positions_[static_cast<size_t>(row)] == current_->position) {
        cursor_row_ = row;
        return;
      }
    }
  }
  cursor_row_ = std::min(cursor_row_, drawn);
  current_ = ReadFromCache(row_positions_[static_cast<size_t>(cursor_row_)]);
}

int16_t BrowseSession::Choose() {
  if (!current_) return kBrowseResultLeft;
  if (file_ == 0) return kBrowseResultChosen;
  if (current_->data.record_position == 0) return kBrowseResultLeft;
  return static_cast<int16_t>(datafiles::RecordFileReadAt(file_, current_->data.record_position));
}

int16_t BrowseSession::Run(int16_t* key) {
  current_ = ReadAt(1);
  page_first_ = 1;
  DrawPage();
  DrawHeading();
  for (;;) {
    if (current_) {
      SetColour("u");
      DrawRow(cursor_row_, current_->data.line);
    }
    WaitKey(*key);
    if (current_) {
      SetColour("h");
      DrawRow(cursor_row_, current_->data.line);
    }
    switch (*key) {
      case kKeyLeft:
        if (offset_ > 1) {
          offset_ -= kSidewaysStep;
          DrawPage();
          DrawHeading();
        }
        break;
      case kKeyRight:
        if (offset_ <= overhang_) {
          offset_ += kSidewaysStep;
          DrawPage();
          DrawHeading();
        }
        break;
      case kKeyUp:
        if (current_ && !current_->first() && StepBack()) {
          if (cursor_row_ > 1) {
            --cursor_row_;
          } else {
            page_first_ = current_->position;
            DrawPage();
            DrawHeading();
          }
        }
        break;
      case kKeyDown:
        if (current_ && !Last(*current_) && StepForward()) {
          if (cursor_row_ < rows_) {
            ++cursor_row_;
          } else {
            std::optional<CachedEntry> top = ReadFromCache(page_first_);
            if (top) page_first_ = top->end();
            DrawPage();
            DrawHeading();
          }
        }
        break;
      case kKeyPgUp: {
        std::optional<CachedEntry> top = ReadFromCache(page_first_);
        if (!top || top->first()) break;
        MoveBack(rows_);
        // Walk the page's start back as far; meeting the first entry on the
        // way puts the page there and the cursor on the current entry's row.
        int i = rows_;
        int64_t position = page_first_;
        while (i > 0 && top) {
          std::optional<CachedEntry> previous = Previous(*top);
          if (!previous) break;
          position = previous->position;
          --i;
          if (previous->first()) {
            cursor_row_ = cursor_row_ > i ? cursor_row_ - i : 1;
            break;
          }
          top = std::move(previous);
        }
        page_first_ = position;
        DrawPage();
        DrawHeading();
        break;
      }
      case kKeyPgDn:
        if (next_page_ != 0) {
          // A page boundary found before the data ran out may turn out to
          // be the end: then there is no next page after all.
          if (!ReadAt(next_page_)) {
            next_page_ = 0;
            break;
          }
          page_first_ = next_page_;
          MoveForward(rows_);
          DrawPage();
          DrawHeading();
        }
        break;
      case kKeyEnter:
        return Choose();
      default:
        return kBrowseResultLeft;
    }
  }
}

// Saves and restores around an open list what it changes: the data file's
// lock mode, the colour, the window and the exit-key map.
class OpenListScope {
 public:
  explicit OpenListScope(const BrowseListDef& def) : file_(def.attr[kBrowseFile]) {
    if (file_ != 0) {
      datafiles::Status status = 0;
      datafiles::RecordFileSetLockMode(file_, "+d", status);
    }
    SetColour("+n");
    const int depth = WindowDepth();
    WinPush(def.attr[kBrowseTop], def.attr[kBrowseLeft], def.attr[kBrowseBottom],
            def.attr[kBrowseRight]);
    pushed_ = WindowDepth() > depth;
    if (pushed_) DrawFrame(2);
    SetColour("h");
    KeyMap("+ea", kBrowseKeys);
    if (def.attr[kBrowseLinkedList] != 0) KeyMap("a", kLinkedListKey);
  }
  // False when the window could not be pushed; nothing may be drawn then.
  bool pushed() const { return pushed_; }
  OpenListScope(const OpenListScope&) = delete;
  OpenListScope& operator=(const OpenListScope&) = delete;
  ~OpenListScope() {
    KeyMap("-", "");
    if (pushed_) WinPop();
    SetColour("-");
    if (file_ != 0) {
      datafiles::Status status = 0;
      datafiles::RecordFileSetLockMode(file_, "-", status);
    }
  }

 private:
  const int16_t file_;
  bool pushed_ = false;
};

// A list without a cache says so, as an open failure does, rather than
// leave the key it was opened with seemingly unanswered.
void ShowCacheFailure(const std::string& path) {
  ShowMessageUntilKey(
      datafiles::kOpenFailureRow,
      config::TranslateWith("La llista no es pot obrir: el fitxer de treball @1 no es pot fer servir",
                            {path}));
}

bool WindowFits(const BrowseListDef& def) {
  const int top = def.attr[kBrowseTop], left = def.attr[kBrowseLeft];
  const int bottom = def.attr[kBrowseBottom], right = def.attr[kBrowseRight];
  // At least one row and one column inside the frame, all of it on screen.
  return top >= 1 && left >= 1 && bottom <= ScreenRows() && right <= ScreenCols() &&
         bottom - top >= 2 && right - left >= 2;
}

}  // namespace

// --- 3. BrowseList ----------------------------------------------------------

void BrowseList(int16_t& list, int16_t& result) {
  result = kBrowseResultLeft;
  const FormSet& forms = Forms();
  if (list < 1 || static_cast<size_t>(list) >= forms.lists.size()) return;
  // A copy: the filter form and the hooks may touch the tables.
  const BrowseListDef def = forms.lists[static_cast<size_t>(list)];
  // A window that does not fit would leave WinPush doing nothing and the
  // closing WinPop taking the caller's window.
  if (!WindowFits(def)) return;

  if (def.attr[kBrowseFilterForm] != 0) {
    int16_t form = def.attr[kBrowseFilterForm], up = 0, down = 0, key = 0;
    RunForm(form, up, down, key);
    if (key == kKeyEsc) return;
  }

  std::string lowest, highest;
  if (Hooks().start_key) {
    const int16_t status = Hooks().start_key(list, lowest, highest);
    if (status != 0) {
      result = status;
      return;
    }
  }

  const bool has_data = def.attr[kBrowseFile] != 0;
  platform::Env& env = platform::CurrentEnv();
  const std::string path = BrowseCachePath();
  std::unique_ptr<platform::RandomAccessFile> cache = env.OpenRandomAccess(path, true);
  if (has_data && (!cache || !cache->Truncate(0))) {
    // Not a cache this list may write (a link somebody planted, a second
    // name of another file, a FIFO, a device): that name goes, never what
    // it points to, and the list starts a cache of its own. A folder there
    // stays (unlinking refuses it), and so does a temporary folder that
    // cannot be written: no cache then.
    cache.reset();
    env.DeleteFile(path);
    cache = env.OpenRandomAccess(path, true);
    if (cache && !cache->Truncate(0)) cache.reset();
  }
  const int64_t cache_size = cache ? cache->Size() : -1;
  if (!cache || cache_size < 0) {  // no cache, no list: nothing chosen
    ShowCacheFailure(path);
    return;
  }
  ArmCacheRemoval();

  int16_t key = 0;
  {
    OpenListScope scope(def);
    if (!scope.pushed()) {
      cache.reset();
      env.DeleteFile(path);
      g_signal_cache_armed = 0;
      return;
    }
    {
      BrowseSession session(list, def, cache.get(), cache_size, lowest, highest);
      result = session.Run(&key);
    }
    cache.reset();
    env.DeleteFile(path);
    g_signal_cache_armed = 0;

    const int16_t linked = def.attr[kBrowseLinkedList];
    if (key == kKeyF4 && linked != 0) {
      int16_t linked_list = linked;
      BrowseList(linked_list, result);
      if (result == kBrowseResultChosen && Hooks().transfer) Hooks().transfer(linked_list, 0, 0);
    }
  }
}

}  // namespace console
