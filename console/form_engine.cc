// The form engine. Division map:
//   field geometry   where a field's value, trailer and clickable area lie
//   StoreField       validation by type (date, number, number or P, text)
//   DrawForm         title, labels, values
//   field loop       one pass over a page's fields: edit, F1/F4, store,
//                    rejection, and the move table
//   RunForm          window, editable range, resumed continuation pages, the
//                    completion check
#include "console/form_engine.h"

#include <algorithm>
#include <cassert>

#include "config/settings.h"
#include "console/field_display.h"
#include "console/field_editor.h"
#include "console/form_set.h"
#include "console/keys.h"
#include "console/screen.h"
#include "console/upper_text.h"
#include "format/dates.h"
#include "format/masks.h"
#include "platform/blanks.h"
#include "platform/console.h"

namespace console {

namespace {

// StoreField's result for a value that failed its check (the checks' own
// "true").
constexpr int16_t kRejected = -1;

// F1 is added to every form's exit keys.
constexpr char kHelpKeyItem[] = ",3b00";

// Title line: centred on column 41 of an 80-column screen.
constexpr int kTitleRow = 1;
constexpr int kTitleCentre = 41;

FormHooks& Hooks() {
  static FormHooks hooks;
  return hooks;
}

int16_t g_resume_form = 0;

FormDef& Form(int16_t form) {
  assert(form >= 1 && form <= Forms().form_count());
  return Forms().forms[static_cast<size_t>(form)];
}

// The number of fields the form really has (the count, bounded by the table).
int16_t FieldCount(const FormDef& f) {
  const int16_t defined = static_cast<int16_t>(f.fields.empty() ? 0 : f.fields.size() - 1);
  return std::clamp<int16_t>(f.field_count, 0, defined);
}

bool IsEditable(const FieldDef& f) {
  return (f.attr[kFieldFlags] & kFieldDisplayOnly) == 0;
}

// ---- Field geometry ------------------------------------------------------

int ValueColumn(const FieldDef& f) {
  return f.attr[kFieldColumn] + static_cast<int>(f.label.size());
}

// Cells per screen row of the value.
int RowWidth(const FieldDef& f) {
  return f.attr[kFieldDisplayWidth] > 0 ? f.attr[kFieldDisplayWidth] : f.attr[kFieldLength];
}

// Screen rows the value covers; a wrapped value's last, partial row counts.
int RowCount(const FieldDef& f) {
  const int width = f.attr[kFieldDisplayWidth];
  if (width <= 0) return 1;
  return std::max(1, (f.attr[kFieldLength] + width - 1) / width);
}

// Writes text over the value's cells, one row's piece at a time.
void WriteOverValue(const FieldDef& f, const std::string& text) {
  const int width = RowWidth(f);
  if (width <= 0) return;
  for (size_t at = 0, r = 0; at < text.size(); at += static_cast<size_t>(width), ++r) {
    Locate(f.attr[kFieldRow] + static_cast<int>(r), ValueColumn(f));
    Print(text.substr(at, static_cast<size_t>(width)));
  }
}

// Blanks the trailer cells, which follow the value's last character.
void BlankTrailer(const FieldDef& f) {
  const int trailer = f.attr[kFieldTrailer];
  if (trailer <= 0) return;
  const int length = f.attr[kFieldLength];
  const int width = RowWidth(f);
  int row = f.attr[kFieldRow];
  int column = ValueColumn(f);
  if (length > 0 && width > 0) {
    row += (length - 1) / width;
    column += (length - 1) % width + 1;
  }
  Locate(row, column);
  Print(std::string(static_cast<size_t>(trailer), ' '));
}

// True when the window-relative cell lies on the field's label, value or
// trailer.
bool FieldAreaHolds(const FieldDef& f, int row, int column) {
  const int first_row = f.attr[kFieldRow];
  const int first_col = f.attr[kFieldColumn];
  const int last_col = ValueColumn(f) + RowWidth(f) + f.attr[kFieldTrailer] - 1;
  return row >= first_row && row < first_row + RowCount(f) && column >= first_col &&
         column <= last_col;
}

void RedrawField(int16_t form, int16_t field) {
  SetColour("+h");
  ShowFieldValue(field, form);
  SetColour("-");
}

// The mask the number check uses for a field of this length: digits only,
// no sign and no decimal point ("ZZZ9" for four characters).
std::string NumberFieldMask(int16_t length) {
  return std::string(static_cast<size_t>(std::max(length - 1, 0)), 'Z') + "9";
}

// Keys with which a continuation page ends the page that called it as well.
bool EndsCallingPage(int16_t key) {
  return key == kKeyPgUp || key == kKeyPgDn || key == kKeyEnd || key == kKeyCtrlB ||
         key == kKeyEnter || key == kKeyDown || key == kKeyUp;
}

// True when ResumeForm names one of the pages that follow form in its chain.
bool ResumeIsFurtherDown(int16_t form) {
  if (g_resume_form == 0) return false;
  int16_t page = Form(form).next;
  // A chain cannot be longer than the number of forms; a looping chain stops.
  for (int steps = 0; page >= 1 && page <= Forms().form_count() && steps < Forms().form_count();
       ++steps) {
    if (page == g_resume_form) return true;
    page = Form(page).next;
  }
  return false;
}

int16_t CompletionCheck(int16_t form, int16_t key) {
  return Hooks().completion ? Hooks().completion(form, key) : 0;
}

// ---- Field loop ----------------------------------------------------------

struct PageRun {
  int16_t form;
  bool continuation;
  int16_t first;  // first and last editable fields
  int16_t last;
  int16_t& may_leave_up;
  int16_t& may_leave_down;
  int16_t& key;
};

// Puts the field's exit keys (and, for a hidden field, the mask) in force.
// Also used after a help or browse pop-up, which may have restored the map
// of the form's caller: the "+" then saves that map again.
void EnterFieldKeys(const std::string& list, bool hidden) {
  KeyMap("+ea", list);
  if (hidden) KeyMap("h", "");
}

// Edits the page's fields from the first editable one until a key leaves.
void FieldLoop(PageRun& run) {
  FormDef& f = Form(run.form);
  const std::string list = f.exit_keys + kHelpKeyItem;
  int16_t& key = run.key;
  int16_t current = run.first;
  std::string work;
  // After F1, or F4 on a field without a list, the typed text is edited
  // again instead of being dropped.
  bool keep_work = false;

  while (current >= run.first && current <= run.last) {
    FieldDef& fd = Forms().Field(run.form, current);
    const int16_t flags = fd.attr[kFieldFlags];
    const bool hidden = (flags & kFieldHidden) != 0;
    const bool display_only = (flags & kFieldDisplayOnly) != 0;
    const bool starts_blank = (flags & (kFieldStartsBlank | kFieldHidden)) != 0;
    const size_t length = static_cast<size_t>(std::max<int16_t>(fd.attr[kFieldLength], 0));

    EnterFieldKeys(list, hidden);
    if (!keep_work) work = starts_blank ? std::string(length, ' ') : fd.value;
    keep_work = false;
    if (!display_only) BlankTrailer(fd);

    bool rejected = false;
    do {
      rejected = false;
      if (!display_only) {
        SetChoices(fd.choices);
        int16_t row = fd.attr[kFieldRow];
        int16_t column = static_cast<int16_t>(ValueColumn(fd));
        int16_t width = fd.attr[kFieldDisplayWidth];
        int16_t position = 1;
        if (flags & kFieldCursorAfterText) {
          position = static_cast<int16_t>(platform::TrimRightBlanks(work).size() + 1);
        }
        EditField(row, column, width, work, position, key);
      }

      if (key == kKeyF1) {
        const std::string topic = platform::TrimRightBlanks(config::ModuleSettings().menu_name);
        if (!topic.empty() && Hooks().help) {
          Hooks().help(topic);
          EnterFieldKeys(list, hidden);
        }
        key = 0;
        keep_work = true;
      } else if (key == kKeyF4) {
        key = 0;
        const int16_t browse = fd.attr[kFieldBrowseList];
        if (browse == 0) {
          keep_work = true;
        } else {
          const bool chosen = Hooks().browse && Hooks().browse(browse);
          EnterFieldKeys(list, hidden);
          if (!chosen) {
            rejected = true;
          } else {
            // The transfer stores through StoreField; its verdict is not
            // used. The field shows what is stored now, whatever it did.
            if (Hooks().browse_transfer) Hooks().browse_transfer(browse, run.form, current);
            RedrawField(run.form, current);
            key = (current == FieldCount(f) && f.next == 0) ? kKeyEnter : kKeyDown;
          }
        }
      } else if (!display_only) {
        // A display-only field was not edited, so there is nothing to check
        // (a stored value that fails its check must not trap the user).
        if (fd.attr[kFieldTrailer] > 0) {
          // What the editor showed, never the text of a hidden field.
          WriteOverValue(fd, hidden ? std::string(work.size(), 'X') : work);
          BlankTrailer(fd);
        }
        if (key != kKeyEsc) {
          const std::string value = starts_blank && platform::IsBlank(work) ? fd.value : work;
          if (StoreField(run.form, value, current, key) != 0) rejected = true;
        } else {
          RedrawField(run.form, current);
        }
      }
      if (rejected) Beep();
    } while (rejected);

    if (hidden) KeyMap("v", "");
    KeyMap("-", "");

    // The move table.
    if (key == kKeyPgUp || key == kKeyPgDn) {
      const bool up = key == kKeyPgUp;
      const int16_t end = up ? run.first : run.last;
      if (current == end && (up ? run.may_leave_up : run.may_leave_down) != 0) {
        g_resume_form = run.form;
        return;
      }
      g_resume_form = 0;
      current = end;
    } else if (key == kKeyEnd || key == kKeyCtrlB) {
      return;
    } else if (key == kKeyEsc) {
      if (current == run.first) return;
      current = run.first;
    } else if (key == kKeyEnter || key == kKeyDown || key == kKeyF2) {
      if ((current == run.last || key == kKeyF2) && f.next != 0) {
        int16_t page = static_cast<int16_t>(-f.next);
        RunForm(page, run.may_leave_up, run.may_leave_down, key);
        if (EndsCallingPage(key)) return;
      } else if (key == kKeyEnter) {
        if (current == run.last) return;
        ++current;
      } else if (key == kKeyDown) {
        if (current != run.last) ++current;
      }
    } else if (key == kKeyUp) {
      if (current != run.first) {
        --current;
      } else if (run.continuation) {
        key = kKeyEsc;
        return;
      }
    } else if (IsClickCode(key)) {
      const int code = -key;
      // Relative to the window the fields are drawn in (the form's own, or
      // the caller's when the form has none).
      const WindowRect window = CurrentWindow();
      const int row = code % 100 - window.top;
      const int column = code / 100 - window.left;
      for (int16_t i = run.first; i <= run.last; ++i) {
        const FieldDef& candidate = Forms().Field(run.form, i);
        if (IsEditable(candidate) && FieldAreaHolds(candidate, row, column)) {
          current = i;
          break;
        }
      }
    } else if (key != 0) {
      return;
    }
  }
}

}  // namespace

void SetFormHooks(FormHooks hooks) {
  Hooks() = std::move(hooks);
}

int16_t& ResumeForm() {
  return g_resume_form;
}

int16_t StoreField(int16_t form, const std::string& value, int16_t field, int16_t /*key*/) {
  assert(Forms().HasField(form, field));
  FieldDef& f = Forms().Field(form, field);
  std::string v = value;
  switch (f.attr[kFieldType]) {
    case kFieldTypeDate:
      if (platform::IsBlank(v)) v = format::DateToEditText(config::ModuleSettings().working_date);
      if (format::IsBadDateText(v)) return kRejected;
      // The edit form (DDMMYY or DDMMYYYY), which reads back as the same date.
      v = format::DateToEditText(format::ParseDateText(v));
      break;
    case kFieldTypeNumber:
      if (format::IsBadNumberText(v, NumberFieldMask(f.attr[kFieldLength]))) return kRejected;
      break;
    case kFieldTypeNumberOrP:
      if (format::IsBadNumberText(v, NumberFieldMask(f.attr[kFieldLength])) &&
          UpperText(platform::TrimBlanks(v)) != "P") {
        return kRejected;
      }
      break;
    default:
      break;
  }
  Forms().SetValue(form, field, v);
  RedrawField(form, field);
  return 0;
}

void DrawForm(int16_t form) {
  const FormDef& f = Form(form);
  const std::string& title = config::ModuleSettings().screen_title;
  // Half the title's length rounded to the nearest whole number, halves to
  // even: 2.5 gives 2, 3.5 gives 4.
  const int half = static_cast<int>(title.size() / 2) +
                   ((title.size() % 2 == 1 && (title.size() / 2) % 2 == 1) ? 1 : 0);
  SetColour("rh");
  // The title line is in absolute coordinates, whatever window is open.
  platform::CurrentConsole().SetCursor(kTitleRow, std::max(1, kTitleCentre - half));
  Print(title);

  const int16_t count = FieldCount(f);
  SetColour("n");
  for (int16_t i = 1; i <= count; ++i) {
    const FieldDef& fd = f.fields[static_cast<size_t>(i)];
    Locate(fd.attr[kFieldRow], fd.attr[kFieldColumn]);
    Print(fd.label);
  }
  SetColour("h");
  for (int16_t i = 1; i <= count; ++i) ShowFieldValue(i, form);
}

void RunForm(int16_t& form_number, int16_t& may_leave_up, int16_t& may_leave_down, int16_t& key) {
  const bool continuation = form_number < 0;
  const int16_t form = static_cast<int16_t>(continuation ? -form_number : form_number);
  // REQUIRES: the form exists.
  assert(form >= 1 && form <= Forms().form_count());
  FormDef& f = Form(form);

  // Only a window that was really pushed is framed and popped: a rectangle
  // outside the console pushes nothing, and popping then would take the
  // caller's window away.
  bool pushed = false;
  if (f.top != 0) {
    const int16_t depth = WindowDepth();
    SetColour("+n");
    WinPush(f.top, f.left, f.bottom, f.right);
    pushed = WindowDepth() > depth;
    if (pushed) DrawFrame(2);
    SetColour("-");
  }
  DrawForm(form);

  int16_t first = 0;
  int16_t last = 0;
  for (int16_t i = 1; i <= FieldCount(f); ++i) {
    if (!IsEditable(f.fields[static_cast<size_t>(i)])) continue;
    if (first == 0) first = i;
    last = i;
  }

  if (first == 0) {
    // Nothing to edit: the form is shown, checked once and closed (asking
    // again could never get another answer).
    (void)CompletionCheck(form, key);
  } else {
    PageRun run{form, continuation, first, last, may_leave_up, may_leave_down, key};
    bool check_now = false;
    if (ResumeIsFurtherDown(form)) {
      int16_t page = static_cast<int16_t>(-f.next);
      RunForm(page, may_leave_up, may_leave_down, key);
      check_now = EndsCallingPage(key);
    } else {
      g_resume_form = 0;
    }
    for (;;) {
      if (!check_now) FieldLoop(run);
      check_now = false;
      if (CompletionCheck(form, key) == 0) break;
    }
  }
  if (pushed) WinPop();
}

}  // namespace console
