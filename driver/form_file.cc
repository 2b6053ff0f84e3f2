#include "driver/form_file.h"

#include <memory>

#include "driver/module_hooks.h"
#include "platform/env.h"

namespace driver {

namespace {

// Counts beyond these are taken as damage rather than as a form: they keep
// a bad file from allocating without bound.
constexpr int kMaxForms = 999;
constexpr int kMaxFields = 999;
constexpr int kMaxLists = 999;

class ItemReader {
 public:
  explicit ItemReader(const std::string& bytes) : s_(bytes.substr(0, bytes.find('\x1a'))) {}

  bool AtEnd() const { return pos_ >= s_.size(); }

  // Skips the comment lines that may stand before a record. Returns false
  // when the file ends first.
  bool SkipComments() {
    for (;;) {
      if (AtEnd()) return false;
      size_t eol = s_.find('\n', pos_);
      std::string line = s_.substr(pos_, eol == std::string::npos ? std::string::npos : eol - pos_);
      size_t first = line.find_first_not_of(' ');
      if (first != std::string::npos && line[first] == '\'') {
        pos_ = eol == std::string::npos ? s_.size() : eol + 1;
        continue;
      }
      return true;
    }
  }

  // A number item; false at the end of the file.
  bool Number(int16_t* out) {
    SkipBlanks();
    if (AtEnd()) return false;
    bool negative = false;
    if (s_[pos_] == '-' || s_[pos_] == '+') {
      negative = s_[pos_] == '-';
      ++pos_;
    }
    long v = 0;
    while (!AtEnd() && s_[pos_] != ',' && s_[pos_] != ' ' && !AtLineEnd()) {
      char c = s_[pos_++];
      if (c >= '0' && c <= '9' && v <= 32767) v = v * 10 + (c - '0');
    }
    if (v > 32767) v = 32767;
    *out = static_cast<int16_t>(negative ? -v : v);
    SkipBlanks();
    ConsumeSeparator();
    return true;
  }

  // A text item; false at the end of the file.
  bool Text(std::string* out) {
    out->clear();
    SkipBlanks();
    if (AtEnd()) return false;
    if (s_[pos_] == '"') {
      size_t close = s_.find('"', pos_ + 1);
      if (close == std::string::npos) close = s_.size();
      *out = s_.substr(pos_ + 1, close - pos_ - 1);
      pos_ = close < s_.size() ? close + 1 : close;
      // Whatever follows the closing quote up to the separator is dropped.
      while (!AtEnd() && s_[pos_] != ',' && !AtLineEnd()) ++pos_;
    } else {
      while (!AtEnd() && s_[pos_] != ',' && !AtLineEnd()) {
        char c = s_[pos_++];
        if (c != '\t') out->push_back(c);
      }
    }
    ConsumeSeparator();
    return true;
  }

 private:
  bool AtLineEnd() const {
    if (AtEnd()) return false;
    if (s_[pos_] == '\n') return true;
    return s_[pos_] == '\r' && (pos_ + 1 >= s_.size() || s_[pos_ + 1] == '\n');
  }
  void SkipBlanks() {
    while (!AtEnd() && s_[pos_] == ' ') ++pos_;
  }
  void ConsumeSeparator() {
    if (AtEnd()) return;
    if (s_[pos_] == ',') {
      ++pos_;
    } else if (s_[pos_] == '\r') {
      ++pos_;
      if (!AtEnd() && s_[pos_] == '\n') ++pos_;
    } else if (s_[pos_] == '\n') {
      ++pos_;
    }
  }

  std::string s_;
  size_t pos_ = 0;
};

int Clamp(int16_t v, int hi) {
  return v < 0 ? 0 : (v > hi ? hi : v);
}

// The records of the file into *set, up to where the file ends. True when
// every record the counts announce was read.
bool ParseRecords(const std::string& bytes, const TranslateFn& translate, console::FormSet* set) {
  ItemReader in(bytes);
  auto tr = [&](const std::string& t) { return translate ? translate(t) : t; };

  // State 0: form count and maximum field count.
  int16_t form_count = 0, max_fields = 0;
  if (!in.SkipComments() || !in.Number(&form_count) || !in.Number(&max_fields)) return false;
  form_count = static_cast<int16_t>(Clamp(form_count, kMaxForms));
  set->max_fields = static_cast<int16_t>(Clamp(max_fields, kMaxFields));
  set->forms.resize(static_cast<size_t>(form_count) + 1);
  for (auto& f : set->forms) f.fields.resize(static_cast<size_t>(set->max_fields) + 1);

  // State 1: the forms.
  for (int form = 1; form <= form_count; ++form) {
    console::FormDef& f = set->forms[static_cast<size_t>(form)];
    if (!in.SkipComments() || !in.Text(&f.exit_keys) || !in.Number(&f.field_count) ||
        !in.Number(&f.next) || !in.Number(&f.top) || !in.Number(&f.left) || !in.Number(&f.bottom) ||
        !in.Number(&f.right)) {
      return false;
    }
    int fields = Clamp(f.field_count, kMaxFields);
    if (fields + 1 > static_cast<int>(f.fields.size()))
      f.fields.resize(static_cast<size_t>(fields) + 1);
    for (int k = 1; k <= fields; ++k) {
      console::FieldDef& d = f.fields[static_cast<size_t>(k)];
      if (!in.SkipComments() || !in.Number(&d.attr[0]) || !in.Number(&d.attr[1]) ||
          !in.Text(&d.label)) {
        return false;
      }
      for (int a = 2; a <= 7; ++a) {
        if (!in.Number(&d.attr[static_cast<size_t>(a)])) return false;
      }
      bool more = in.Text(&d.choices);
      d.label = tr(d.label);
      d.choices = tr(d.choices);
      if (!more) return false;
    }
  }

  // State 2: the list count. A count of 0 ends the file.
  int16_t list_count = 0;
  if (!in.SkipComments() || !in.Number(&list_count)) return false;
  list_count = static_cast<int16_t>(Clamp(list_count, kMaxLists));
  set->lists.resize(static_cast<size_t>(list_count) + 1);

  // State 3: the lists.
  for (int list = 1; list <= list_count; ++list) {
    console::BrowseListDef& l = set->lists[static_cast<size_t>(list)];
    if (!in.SkipComments()) return false;
    for (int a = 0; a <= 6; ++a) {
      if (!in.Number(&l.attr[static_cast<size_t>(a)])) return false;
    }
    if (!in.Text(&l.title)) return false;
    bool more = in.Number(&l.attr[7]);
    l.title = tr(l.title);
    if (!more) return false;
  }
  return true;
}

}  // namespace

bool ParseFormFile(const std::string& bytes, const TranslateFn& translate, console::FormSet* set) {
  *set = console::FormSet();
  const bool complete = ParseRecords(bytes, translate, set);
  // A file that ends inside a form or a field leaves counts and lengths read
  // but not acted on: each form's field count becomes the number of fields
  // the set holds for it, and every field gets the blanks of its length, so
  // the screens can rely on both.
  for (console::FormDef& f : set->forms) {
    f.field_count =
        static_cast<int16_t>(Clamp(f.field_count, static_cast<int>(f.fields.size()) - 1));
    for (console::FieldDef& d : f.fields) {
      const int16_t length = d.attr[console::kFieldLength];
      d.value.assign(length > 0 ? static_cast<size_t>(length) : 0, ' ');
    }
  }
  return complete;
}

namespace {

// Reads the file's lines up to its end-of-file mark. No line end is added
// after the last line: a file cut just after a separator must not gain an
// empty item there. False when the file cannot be opened.
bool ReadFormFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  std::unique_ptr<platform::SequentialFile> f = platform::CurrentEnv().OpenSequential(path);
  if (!f) return false;
  std::string line;
  for (bool first = true; f->ReadLine(&line); first = false) {
    if (!first) *bytes += '\n';
    *bytes += line;
    if (line.find('\x1a') != std::string::npos) break;  // the end-of-file mark
  }
  return true;
}

std::string Translated(const TranslateFn& translate, const std::string& text) {
  return translate ? translate(text) : text;
}

void ReplaceMark(std::string* text, const char* mark, const std::string& value) {
  const size_t at = text->find(mark);
  if (at != std::string::npos) text->replace(at, 2, value);
}

}  // namespace

bool LoadFormFile(const std::string& path, const TranslateFn& translate, console::FormSet* set) {
  std::string bytes;
  if (!ReadFormFile(path, &bytes)) {
    *set = console::FormSet();
    return false;
  }
  ParseFormFile(bytes, translate, set);
  return true;
}

std::string CheckModuleForms(const console::FormSet& set, const TranslateFn& translate) {
  // The parameter form's six fields hold the typed values, so each needs a
  // length; the confirmation is read whole and must be exactly "S".
  struct Need {
    int16_t form;
    int16_t field;
    int16_t min_length;
    int16_t max_length;
  };
  const Need needs[] = {
      {kParameterForm, kFieldReportDate, 1, 32767},
      {kParameterForm, kFieldFromCommunity, 1, 32767},
      {kParameterForm, kFieldFromFlat, 1, 32767},
      {kParameterForm, kFieldToCommunity, 1, 32767},
      {kParameterForm, kFieldToFlat, 1, 32767},
      {kParameterForm, kFieldCopies, 1, 32767},
      {kConfirmForm, 1, 1, 1},
  };
  for (const Need& need : needs) {
    bool held = need.form <= set.form_count() &&
                need.field <= set.forms[static_cast<size_t>(need.form)].field_count &&
                set.HasField(need.form, need.field);
    if (held) {
      const int16_t length = set.Field(need.form, need.field).attr[console::kFieldLength];
      held = length >= need.min_length && length <= need.max_length;
    }
    if (!held) {
      std::string text = Translated(
          translate, "el camp @2 del formulari @1 no hi \x82s o no t\x82 una llargada v\x85lida");
      ReplaceMark(&text, "@1", std::to_string(need.form));
      ReplaceMark(&text, "@2", std::to_string(need.field));
      return text;
    }
  }
  return std::string();
}

std::string LoadModuleForms(const std::string& path, const TranslateFn& translate,
                            console::FormSet* set) {
  std::string bytes;
  std::string problem;
  if (!ReadFormFile(path, &bytes)) {
    *set = console::FormSet();
    problem = Translated(translate, "no es pot llegir");
  } else if (!ParseFormFile(bytes, translate, set)) {
    problem = Translated(translate, "s'acaba abans d'hora");
  } else {
    problem = CheckModuleForms(*set, translate);
  }
  if (problem.empty()) return problem;
  std::string text = Translated(translate, "no es pot fer servir el fitxer de formularis @1: @2");
  // The path last: a name may hold anything, "@2" included.
  ReplaceMark(&text, "@2", problem);
  ReplaceMark(&text, "@1", platform::HostPath(path));
  return text;
}

}  // namespace driver
