// The field editor. Division map:
//   choice list     SetChoices parses the list once into value/label entries
//   FieldEditor     one EditField call: start, the main loop (draw, cursor,
//                   key), the key table for text and for choice fields, word
//                   moves, paste, mouse clicks, exit processing
//
// Screen writes are kept to what changed: a typed character in overwrite mode
// writes its own cell, a redraw writes the field's cells and nothing else.
#include "console/field_editor.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <memory>
#include <vector>

#include "console/keys.h"
#include "console/screen.h"
#include "console/upper_text.h"
#include "platform/blanks.h"
#include "platform/console.h"

namespace console {

namespace {

// The arrow cells either side of a choice field: code page 850 bytes 0x11
// and 0x10, which the console shows as ◄ and ►.
constexpr char kLeftArrow = '\x11';
constexpr char kRightArrow = '\x10';

// Characters that separate words for Ctrl+Left and Ctrl+Right.
bool IsSeparator(char c) {
  return c == ' ' || c == ',' || c == '.' || c == ';' || c == ':';
}

// Cursor heights of the Insert toggle's two states.
constexpr int kInsertCursor = 50;
constexpr int kOverwriteCursor = 100;

struct ChoiceEntry {
  std::string value;
  std::string label;
};

struct ChoiceList {
  std::vector<ChoiceEntry> entries;
  int label_width = 0;  // the longest label
};

// The list in force, and its source text (so setting the same list again,
// as the form engine does before every field, costs no parsing). An editor
// holds its own reference, so a nested edit (from a hot-key tool) that sets
// another list cannot pull the entries from under it.
struct ChoiceState {
  std::string text;
  std::shared_ptr<const ChoiceList> list = std::make_shared<ChoiceList>();
};

ChoiceState& Choices() {
  static ChoiceState* state = new ChoiceState();
  return *state;
}

// "|value,label|value,label...": each "|" opens an entry; its value runs to
// the next "," and its label from there to the next "|" or the end. An entry
// without a "," before the next "|" has that whole run as its value and an
// empty label (its value never reaches into the following entry).
std::vector<ChoiceEntry> ParseChoices(const std::string& list) {
  std::vector<ChoiceEntry> entries;
  size_t bar = list.find('|');
  while (bar != std::string::npos) {
    size_t next = list.find('|', bar + 1);
    std::string entry =
        list.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
    size_t comma = entry.find(',');
    ChoiceEntry e;
    if (comma == std::string::npos) {
      e.value = entry;
    } else {
      e.value = entry.substr(0, comma);
      e.label = entry.substr(comma + 1);
    }
    entries.push_back(std::move(e));
    bar = next;
  }
  return entries;
}

// Left placement in n cells: blank padding or cutting.
std::string Fit(const std::string& s, size_t n) {
  std::string out = s.substr(0, n);
  out.resize(n, ' ');
  return out;
}

// What a key does once the table has handled it.
enum class Outcome { kStay, kLeave };

class FieldEditor {
 public:
  FieldEditor(int16_t& row, int16_t& col, int16_t& width, std::string& text, int16_t& position)
      : row_(row), col_(col), width_(width), text_(text), position_(position) {}

  int16_t Run();

 private:
  bool choice() const { return !entries_->empty(); }
  int n() const { return static_cast<int>(text_.size()); }
  int rows() const { return (n() + width_ - 1) / width_; }

  void Start();
  void Draw();
  void PlaceCursor();
  int16_t ReadKey();
  Outcome HandleText(int16_t key);
  Outcome HandleChoice(int16_t key);
  Outcome HandleClick(int16_t* key);
  bool Finish(int16_t* key);

  void LocateOffset(int offset) { Locate(row_ + offset / width_, col_ + offset % width_); }
  void SetCurrent(size_t entry);
  void TypeAhead(char c);
  void WordLeft();
  void WordRight();
  void Paste();
  void ShowCursorShape() {
    platform::CurrentConsole().SetCursorShape(insert_ ? kInsertCursor : kOverwriteCursor);
  }

  int16_t& row_;
  int16_t& col_;
  int16_t& width_;
  std::string& text_;
  int16_t& position_;

  std::shared_ptr<const ChoiceList> list_;
  const std::vector<ChoiceEntry>* entries_ = nullptr;  // list_'s entries
  size_t current_ = 0;                                 // index of the current entry
  int label_width_ = 0;                                // W
  bool insert_ = false;
  bool redraw_ = false;
  int16_t mask_ = 0;  // HiddenMask, read once per call
  // The innermost window's origin, to turn absolute mouse cells into
  // window-relative ones.
  int origin_row_ = 0;
  int origin_col_ = 0;
};

void FieldEditor::Start() {
  platform::Console& con = platform::CurrentConsole();
  if (WindowDepth() > 0) {
    WindowRect w = CurrentWindow();
    origin_row_ = w.top;
    origin_col_ = w.left;
  }
  // The cursor is absolute; the field's coordinates are window-relative.
  if (row_ == 0) row_ = static_cast<int16_t>(con.CursorRow() - origin_row_);
  if (col_ == 0) col_ = static_cast<int16_t>(con.CursorCol() - origin_col_);
  if (width_ <= 0) width_ = static_cast<int16_t>(n() + 1);
  position_ = static_cast<int16_t>(std::clamp<int>(position_, 1, n() + 1));
  mask_ = HiddenMask();

  list_ = Choices().list;
  entries_ = &list_->entries;
  if (choice()) {
    label_width_ = list_->label_width;
    // The text holds the value as the editor writes it back (padded or cut
    // to N), so that is what a value must equal to be the current entry.
    current_ = 0;
    for (size_t i = 0; i < entries_->size(); ++i) {
      if (Fit((*entries_)[i].value, text_.size()) == text_) {
        current_ = i;
        break;
      }
    }
    const int abs_col = col_ + origin_col_;
    if (abs_col - 1 >= 1) {
      Locate(row_, col_ - 1);
      Print(std::string(1, kLeftArrow));
    }
    if (abs_col + label_width_ <= ScreenCols()) {
      Locate(row_, col_ + label_width_);
      Print(std::string(1, kRightArrow));
    }
  }
  SetColour("u");
  Locate(row_, col_);
  redraw_ = true;
}

void FieldEditor::SetCurrent(size_t entry) {
  current_ = entry;
  redraw_ = true;
}

void FieldEditor::Draw() {
  if (choice()) {
    // The value follows the current entry whatever the screen shows.
    const ChoiceEntry& e = (*entries_)[current_];
    text_ = Fit(e.value, text_.size());
  }
  const int w = width_;
  std::string line;
  for (int r = 0; r * w < n(); ++r) {
    Locate(row_ + r, col_);
    if (mask_ != 0) {
      line.assign(static_cast<size_t>(w - 1), static_cast<char>(mask_));
    } else if (choice()) {
      line = Fit((*entries_)[current_].label, static_cast<size_t>(label_width_));
    } else {
      line.assign(text_, static_cast<size_t>(r * w), static_cast<size_t>(w));
    }
    Print(line);
  }
  redraw_ = false;
}

void FieldEditor::PlaceCursor() {
  const int offset = position_ - 1;
  if (position_ == n() + 1 && n() > 0 && offset % width_ == 0) {
    // Just after the last column of the last row, not on a row of its own.
    Locate(row_ + offset / width_ - 1, col_ + width_);
  } else {
    LocateOffset(offset);
  }
}

// Polls GetKey until a key or a click. Insert is handled here: it toggles the
// mode (kept in the keyboard's own toggle) and the next key is read.
int16_t FieldEditor::ReadKey() {
  for (;;) {
    int16_t key = 0, button = 0, mrow = 0, mcol = 0;
    GetKey(key, button, mrow, mcol);
    if (key == kKeyInsert) {
      insert_ = !insert_;
      platform::SetInsertToggle(insert_);
      if (!choice()) ShowCursorShape();
      continue;
    }
    if (key != 0) return key;
    if (button != 0) return static_cast<int16_t>(-(mcol * 100 + mrow));
  }
}

void FieldEditor::WordLeft() {
  int i = position_ - 1;  // 1-based index of the character looked at
  while (i >= 1 && IsSeparator(text_[i - 1])) --i;
  while (i >= 1 && !IsSeparator(text_[i - 1])) --i;
  // i is now the separator before the word (or 0 when none precedes it).
  int start = i + 1;
  position_ = static_cast<int16_t>(start <= 2 ? 1 : start);
}

void FieldEditor::WordRight() {
  // The rest of the current word (nothing when the cursor is on a separator),
  // then the separators.
  int i = position_;
  while (i <= n() && !IsSeparator(text_[i - 1])) ++i;
  while (i <= n() && IsSeparator(text_[i - 1])) ++i;
  position_ = static_cast<int16_t>(i);
}

void FieldEditor::Paste() {
  std::string clip = platform::ClipboardText();
  std::string kept;
  kept.reserve(clip.size());
  for (char c : clip) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127 || u == 255) continue;
    kept += c;
  }
  kept = platform::TrimBlanks(kept);
  const size_t at = static_cast<size_t>(position_ - 1);
  if (at < text_.size()) {
    const size_t count = std::min(kept.size(), text_.size() - at);
    text_.replace(at, count, kept, 0, count);
  }
  redraw_ = true;
}

Outcome FieldEditor::HandleText(int16_t key) {
  const int len = n();
  if ((key >= 32 && key <= 126) || (key >= 128 && key <= 254)) {
    if (position_ > len) return Outcome::kStay;
    const char c = static_cast<char>(key);
    const size_t at = static_cast<size_t>(position_ - 1);
    if (insert_) {
      if (text_.back() != ' ') return Outcome::kStay;  // full: ignored
      text_.pop_back();
      text_.insert(at, 1, c);
      redraw_ = true;
    } else {
      text_[at] = c;
      if (mask_ == 0) {
        LocateOffset(static_cast<int>(at));
        Print(std::string(1, c));
      }
    }
    ++position_;
    return Outcome::kStay;
  }
  switch (key) {
    case kKeyLeft:
      if (position_ > 1) --position_;
      return Outcome::kStay;
    case 0:
    case kKeyRight:
      if (position_ <= len) ++position_;
      return Outcome::kStay;
    case kKeyBackspace:
      if (position_ > 1) {
        --position_;
        text_.erase(static_cast<size_t>(position_ - 1), 1);
        text_ += ' ';
        redraw_ = true;
      }
      return Outcome::kStay;
    case kKeyDelete:
      if (position_ <= len) {
        text_.erase(static_cast<size_t>(position_ - 1), 1);
        text_ += ' ';
        redraw_ = true;
      }
      return Outcome::kStay;
    case kKeyHome:
      position_ = 1;
      return Outcome::kStay;
    case kKeyEnd:
      position_ = static_cast<int16_t>(platform::TrimRightBlanks(text_).size() + 1);
      return Outcome::kStay;
    case kKeyCtrlHome:
    case kKeyCtrlY:
      text_.assign(text_.size(), ' ');
      position_ = 1;
      redraw_ = true;
      return Outcome::kStay;
    case kKeyUp:
    case kKeyShiftTab:
      if (position_ > width_) {
        position_ = static_cast<int16_t>(position_ - width_);
        return Outcome::kStay;
      }
      return Outcome::kLeave;
    case kKeyDown:
      if (position_ <= len + 1 - width_) {
        position_ = static_cast<int16_t>(position_ + width_);
        return Outcome::kStay;
      }
      return Outcome::kLeave;
    case kKeyCtrlLeft:
      if (position_ > 1) {
        WordLeft();
        return Outcome::kStay;
      }
      return Outcome::kLeave;
    case kKeyCtrlRight:
      if (position_ <= len) {
        WordRight();
        return Outcome::kStay;
      }
      return Outcome::kLeave;
    case kKeyCtrlC:
      // A hidden field's text stays out of the clipboard.
      if (mask_ == 0) platform::SetClipboardText(platform::TrimBlanks(text_));
      return Outcome::kStay;
    case kKeyCtrlV:
      Paste();
      return Outcome::kStay;
    default:
      return Outcome::kLeave;
  }
}

void FieldEditor::TypeAhead(char c) {
  const bool saved = AccentFree();
  AccentFree() = true;
  const std::string wanted = UpperText(std::string(1, c));
  const size_t count = entries_->size();
  for (size_t step = 1; step <= count; ++step) {
    const size_t i = (current_ + step) % count;
    const std::string& label = (*entries_)[i].label;
    if (!label.empty() && UpperText(label.substr(0, 1)) == wanted) {
      SetCurrent(i);
      break;
    }
  }
  AccentFree() = saved;
}

Outcome FieldEditor::HandleChoice(int16_t key) {
  const size_t count = entries_->size();
  if ((key >= 33 && key <= 126) || (key >= 128 && key <= 254)) {
    TypeAhead(static_cast<char>(key));
    return Outcome::kStay;
  }
  switch (key) {
    case kKeyLeft:
      SetCurrent(current_ == 0 ? count - 1 : current_ - 1);
      return Outcome::kStay;
    case ' ':
    case kKeyRight:
      SetCurrent(current_ + 1 == count ? 0 : current_ + 1);
      return Outcome::kStay;
    case kKeyBackspace:
    case kKeyDelete:
    case kKeyCtrlHome:
    case kKeyCtrlY:
    case kKeyCtrlV:
      return Outcome::kStay;
    case kKeyHome:
      position_ = 1;
      return Outcome::kStay;
    case kKeyEnd:
      position_ = static_cast<int16_t>(platform::TrimRightBlanks(text_).size() + 1);
      return Outcome::kStay;
    case kKeyCtrlC:
      platform::SetClipboardText((*entries_)[current_].label);
      return Outcome::kStay;
    default:
      return Outcome::kLeave;  // 0, Up, Down, Shift+Tab, Ctrl+arrows, others
  }
}

// A click (IsClickCode) inside the field becomes the key it stands for; a click
// elsewhere leaves with its code.
Outcome FieldEditor::HandleClick(int16_t* key) {
  const int code = -*key;
  const int r = code % 100 - origin_row_ - row_;  // display row, 0-based
  const int c = code / 100 - origin_col_;         // window-relative column
  if (choice()) {
    if (r != 0) return Outcome::kLeave;
    if (c == col_ - 1) {
      *key = kKeyLeft;
    } else if (c == col_ + label_width_) {
      *key = kKeyRight;
    } else if (c >= col_ && c < col_ + label_width_) {
      *key = 0;
    } else {
      return Outcome::kLeave;
    }
    return Outcome::kStay;
  }
  if (r < 0 || r >= rows() || c < col_ || c >= col_ + width_) return Outcome::kLeave;
  // The clicked cell's 0-based offset; the key 0 then steps onto it.
  position_ = static_cast<int16_t>(std::min(r * width_ + (c - col_), n()));
  *key = 0;
  return Outcome::kStay;
}

// Exit processing. True when the editor ends with *key; false when the key
// is not in the exit-key map and is ignored.
bool FieldEditor::Finish(int16_t* key) {
  int16_t k = *key;
  int16_t target = 0;
  if (k == kKeyShiftTab) k = kKeyUp;
  if (k == kKeyTab) k = kKeyEnter;
  if (k == kKeyEnter && ExitKeyLookup(kKeyEnd, &target)) k = kKeyEnd;
  if (k == kKeyCtrlF4 || k == kKeyAltF4) k = kKeyEsc;
  if (!ExitKeyMapEmpty()) {
    if (ExitKeyLookup(k, &target)) {
      k = target;
    } else if (!IsClickCode(k)) {
      Locate(row_, col_);
      redraw_ = true;
      return false;
    }
  }
  SetColour("h");
  if (choice()) {
    const int abs_col = col_ + origin_col_;
    if (abs_col - 1 >= 1) {
      Locate(row_, col_ - 1);
      Print(" ");
    }
    if (abs_col + label_width_ <= ScreenCols()) {
      Locate(row_, col_ + label_width_);
      Print(" ");
    }
  }
  Locate(row_, col_);
  *key = k;
  return true;
}

int16_t FieldEditor::Run() {
  Start();
  platform::Console& con = platform::CurrentConsole();
  for (;;) {
    if (redraw_) Draw();
    insert_ = platform::InsertToggle();
    if (!choice()) {
      PlaceCursor();
      ShowCursorShape();
    }
    int16_t key = ReadKey();
    con.SetCursorShape(0);
    Outcome outcome = Outcome::kStay;
    if (IsClickCode(key)) outcome = HandleClick(&key);
    if (outcome == Outcome::kStay) outcome = choice() ? HandleChoice(key) : HandleText(key);
    if (outcome == Outcome::kLeave && Finish(&key)) return key;
  }
}

}  // namespace

void SetChoices(const std::string& list) {
  ChoiceState& state = Choices();
  if (list == state.text) return;
  auto parsed = std::make_shared<ChoiceList>();
  parsed->entries = ParseChoices(list);
  for (const ChoiceEntry& e : parsed->entries) {
    parsed->label_width = std::max(parsed->label_width, static_cast<int>(e.label.size()));
  }
  state.text = list;
  state.list = std::move(parsed);
}

void EditField(int16_t& row, int16_t& col, int16_t& width, std::string& text, int16_t& position,
               int16_t& key) {
  // REQUIRES: the text fits the 16-bit cursor position (N + 1 <= 32767).
  assert(text.size() < static_cast<size_t>(std::numeric_limits<int16_t>::max()));
  FieldEditor editor(row, col, width, text, position);
  key = editor.Run();
}

}  // namespace console
