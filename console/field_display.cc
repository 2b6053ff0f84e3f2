#include "console/field_display.h"

#include <cassert>
#include <cstdlib>

#include "console/form_set.h"
#include "console/screen.h"
#include "format/dates.h"
#include "format/masks.h"
#include "format/written_date.h"

namespace console {

namespace {

// What a number-or-P field shows when its value is 0 (or the letter P).
constexpr char kNumberOrPZero[] = "P  ";

std::string Fit(const std::string& text, size_t width) {
  std::string s = text.substr(0, width);
  s.resize(width, ' ');
  return s;
}

}  // namespace

double FieldNumericValue(const std::string& text) {
  std::string number;
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return 0;
  if (text[i] == '+' || text[i] == '-') number.push_back(text[i++]);
  bool point = false;
  bool digits = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ') continue;
    if (c >= '0' && c <= '9') {
      number.push_back(c);
      digits = true;
    } else if (c == '.' && !point) {
      number.push_back(c);
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return 0;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
    std::string exponent = "e";
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent.push_back(text[j++]);
    // Leading zeros of the exponent count for nothing; four significant
    // digits already overflow a double, more would only make strtod work
    // harder.
    bool exponent_digits = false;
    while (j < text.size() && text[j] == '0') {
      ++j;
      exponent_digits = true;
    }
    const size_t sign_size = exponent.size();
    while (j < text.size() && text[j] >= '0' && text[j] <= '9' && exponent.size() < sign_size + 4) {
      exponent.push_back(text[j++]);
      exponent_digits = true;
    }
    if (exponent_digits) number += exponent.size() > sign_size ? exponent : std::string("e0");
  }
  return std::strtod(number.c_str(), nullptr);
}

bool ChoiceLabel(const std::string& choices, const std::string& value, std::string* label) {
  size_t mark = choices.find('|');
  while (mark != std::string::npos) {
    const size_t next = choices.find('|', mark + 1);
    const size_t entry_end = next == std::string::npos ? choices.size() : next;
    // An entry without a comma is all code and no label; its code never
    // runs on into the next entry.
    size_t comma = choices.find(',', mark + 1);
    if (comma == std::string::npos || comma > entry_end) comma = entry_end;
    if (choices.compare(mark + 1, comma - mark - 1, value) == 0) {
      *label = comma < entry_end ? choices.substr(comma + 1, entry_end - comma - 1) : std::string();
      return true;
    }
    mark = next;
  }
  return false;
}

void ShowFieldValue(int16_t field, int16_t form) {
  assert(Forms().HasField(form, field));
  const FieldDef& f = Forms().Field(form, field);
  const int row = f.attr[kFieldRow];
  const int column = f.attr[kFieldColumn] + static_cast<int>(f.label.size());
  Locate(row, column);
  if (f.attr[kFieldFlags] & kFieldHidden) return;

  const int16_t type = f.attr[kFieldType];
  if (type == kFieldTypeDate) {
    Print(format::WrittenDate(format::ParseDateText(f.value), format::kDateNumeric, "dma"));
    return;
  }
  if (type == kFieldTypeNumberOrP) {
    const double v = FieldNumericValue(f.value);
    Print(v != 0 ? format::FormatMask("ZZ9", v) : std::string(kNumberOrPZero));
    return;
  }
  if (!f.choices.empty()) {
    std::string label;
    if (ChoiceLabel(f.choices, f.value, &label)) {
      const int width = f.attr[kFieldLength] + f.attr[kFieldTrailer];
      Print(Fit(label, width > 0 ? static_cast<size_t>(width) : 0));
    }
    return;
  }
  const int width = f.attr[kFieldDisplayWidth];
  if (width > 0) {
    // One piece of the value per row, each starting at the field's column.
    for (size_t at = 0, r = 0; at < f.value.size(); at += static_cast<size_t>(width), ++r) {
      Locate(row + static_cast<int>(r), column);
      Print(f.value.substr(at, static_cast<size_t>(width)));
    }
    return;
  }
  Print(f.value);
}

}  // namespace console
