#include "tools/zizavezu/page.h"

#include <algorithm>
#include <cassert>

#include "platform/blanks.h"
#include "platform/cp850.h"

namespace zizavezu {

// --- Page -------------------------------------------------------------------

void Page::Reset(int length) {
  assert(length >= 1 && length <= kMaxPageLength);
  if (static_cast<int>(text_.size()) < length) {
    text_.resize(length, std::string(kMaxColumns, ' '));
    bold_.resize(length, std::string(kMaxColumns, '\0'));
    row_used_.resize(length, 1);
    row_has_bold_.resize(length, 1);
  }
  for (int r = 0; r < length; ++r) {
    if (row_used_[r]) text_[r].assign(kMaxColumns, ' ');
    if (row_has_bold_[r]) bold_[r].assign(kMaxColumns, '\0');
    row_used_[r] = 0;
    row_has_bold_[r] = 0;
  }
  length_ = length;
  compressed_ = false;
}

void Page::Put(int row, int column, char byte, bool bold) {
  assert(row >= 0 && row < length_ && column >= 0 && column < kMaxColumns);
  if (byte == ' ') return;
  text_[row][column] = byte;
  bold_[row][column] = bold ? 1 : 0;
  row_used_[row] = 1;
  if (bold) row_has_bold_[row] = 1;
}

std::string_view Page::PrintedRow(int r) const {
  std::string_view row(text_[r].data(), columns());
  size_t end = row.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : row.substr(0, end + 1);
}

// --- PageComposer -----------------------------------------------------------

PageComposer::PageComposer(PageSink* sink, Diagnostics* diagnostics)
    : sink_(sink), diagnostics_(diagnostics) {}

bool PageComposer::EmitOpenPage() {
  if (!open_) return ok_;
  open_ = false;
  if (!page_.compressed() && wide_line_ > 0) {
    diagnostics_->Warn(Fault::kColumnBeyondPage, wide_line_,
                       "el text que passa de la columna @1 en una p\x85gina sense \"@e\" "
                       "(10 car\x85"
                       "cters per polzada) es talla",
                       {std::to_string(kPlainColumns)});
  }
  wide_line_ = 0;
  if (ok_ && !sink_->EmitPage(page_)) ok_ = false;
  if (ok_) ++pages_;
  return ok_;
}

bool PageComposer::StartPage(int length) {
  if (!EmitOpenPage()) return false;
  page_.Reset(length);
  if (compress_next_) {
    page_.set_compressed(true);
    compress_next_ = false;
  }
  open_ = true;
  row_ = 0;
  column_ = 0;
  return true;
}

bool PageComposer::Feed(const Directive& d, int64_t line_number) {
  if (!ok_) return false;
  switch (d.kind) {
    case Directive::Kind::kBlank:
      return true;
    case Directive::Kind::kDevice:
      diagnostics_->Warn(Fault::kDeviceRepeated, line_number,
                         "DEVICE despr\x82s de la primera l\xa1nia no es t\x82 en compte");
      return true;
    case Directive::Kind::kPage: {
      int length = kDefaultPageLength;
      if (d.number_ok && d.number >= 1 && d.number <= kMaxPageLength) {
        length = static_cast<int>(d.number);
      } else {
        const std::string most = std::to_string(kMaxPageLength);
        const std::string used = std::to_string(kDefaultPageLength);
        if (d.number_ok) {
          diagnostics_->Warn(Fault::kBadPageLength, line_number,
                             "PAGE @1 no \x82s una llargada de p\x85gina (d'1 a @2); "
                             "es fa servir una p\x85gina de @3 l\xa1nies",
                             {std::to_string(d.number), most, used});
        } else {
          diagnostics_->Warn(Fault::kBadPageLength, line_number,
                             "PAGE sense n\xa3mero no \x82s una llargada de p\x85gina (d'1 a @1); "
                             "es fa servir una p\x85gina de @2 l\xa1nies",
                             {most, used});
        }
      }
      return StartPage(length);
    }
    case Directive::Kind::kRaw:
      if (platform::TrimBlanksView(d.text) == "@e") {
        if (open_) {
          page_.set_compressed(true);
        } else {
          compress_next_ = true;
        }
      }
      return true;
    case Directive::Kind::kJustify:
      pending_ = d.justification;
      if (pending_.kind == Justification::Kind::kFill && !pending_.fill_delimited) {
        diagnostics_->Warn(Fault::kFillUndelimited, line_number,
                           "JUS N sense farciment entre dues \"\\\"; es fan servir espais");
      }
      return true;
    case Directive::Kind::kText:
      return PlaceText(d, line_number);
    case Directive::Kind::kInvalid:
      diagnostics_->Warn(Fault::kNotDirective, line_number,
                         "no \x82s una directiva (no t\x82 paraula clau ni columna i coma); "
                         "no es t\x82 en compte");
      return true;
  }
  return true;
}

bool PageComposer::PlaceText(const Directive& d, int64_t line_number) {
  if (!open_) {
    diagnostics_->Warn(Fault::kTextBeforePage, line_number,
                       "text abans del primer PAGE; es comen\x87"
                       "a una p\x85gina de @1 l\xa1nies",
                       {std::to_string(kDefaultPageLength)});
    if (!StartPage(kDefaultPageLength)) return false;
  } else if (row_ >= page_.length()) {
    // Past the end of the page: continue on a new page of the same length,
    // in the same pitch.
    bool compressed = page_.compressed();
    if (!StartPage(page_.length())) return false;
    page_.set_compressed(compressed);
  }

  const Justification j = pending_;
  pending_ = Justification();

  std::string text = d.text;
  bool had_control = false;
  for (char& c : text) {
    if (platform::IsCp850Control(static_cast<uint8_t>(c))) {
      c = ' ';
      had_control = true;
    }
  }
  if (had_control) {
    diagnostics_->Warn(Fault::kControlBytes, line_number,
                       "els bytes de control d'un text s'imprimeixen com a espais");
  }

  int64_t start;
  if (d.column < 0) {
    diagnostics_->Warn(Fault::kNegativeColumn, line_number,
                       "la columna @1 \x82s abans de la columna 1; es fa servir la columna 1",
                       {std::to_string(d.column)});
    start = 0;
  } else if (d.column == 0) {
    start = column_;
  } else {
    start = d.column - 1;
  }
  const int64_t length = static_cast<int64_t>(text.size());
  // Right-justified text ends where it would end left-aligned at the column
  // (amounts come fixed width), so on a grid of fixed cells it starts at the
  // column itself, like left-aligned, bold and fill text.
  if (j.kind == Justification::Kind::kCentre) start = std::max<int64_t>(0, start - length / 2);

  const int row = static_cast<int>(row_);
  const bool bold = j.kind == Justification::Kind::kBold;
  int64_t end = start + length;  // one past the last cell of the text
  int64_t fill_end = end;
  if (j.kind == Justification::Kind::kFill) fill_end = std::max(end, j.fill_column);
  const int64_t last = std::min<int64_t>(fill_end, kMaxColumns);
  for (int64_t c = start; c < last; ++c) {
    char byte = c < end ? text[static_cast<size_t>(c - start)] : j.fill;
    if (byte == ' ') continue;
    page_.Put(row, static_cast<int>(c), byte, bold && c < end);
    if (c >= kPlainColumns && wide_line_ == 0) wide_line_ = line_number;
  }
  bool clipped = j.fill != ' ' && fill_end > std::max<int64_t>(end, kMaxColumns);
  if (end > kMaxColumns) {
    size_t cut = static_cast<size_t>(std::max<int64_t>(0, kMaxColumns - start));
    clipped = clipped || !platform::IsBlank(std::string_view(text).substr(cut));
  }
  if (clipped) {
    if (start >= kMaxColumns) {
      diagnostics_->Warn(Fault::kColumnBeyondPage, line_number,
                         "la columna @1 passa de l'\xa3ltima columna, la @2; el text no "
                         "s'imprimeix",
                         {std::to_string(d.column), std::to_string(kMaxColumns)});
    } else {
      diagnostics_->Warn(Fault::kColumnBeyondPage, line_number,
                         "el text que passa de la columna @1 es talla",
                         {std::to_string(kMaxColumns)});
    }
  }
  column_ = std::min(fill_end, kNumberLimit);

  int64_t feeds = d.line_feeds;
  if (!d.line_feeds_ok) {
    diagnostics_->Warn(Fault::kMissingLineFeeds, line_number,
                       "element de text sense nombre de salts de l\xa1nia despr\x82s de "
                       "l'\xa3ltima coma; es fa servir 0");
    feeds = 0;
  } else if (feeds < 0) {
    diagnostics_->Warn(Fault::kNegativeLineFeeds, line_number,
                       "nombre de salts de l\xa1nia negatiu @1; es fa servir 0",
                       {std::to_string(feeds)});
    feeds = 0;
  } else if (feeds > page_.length()) {
    diagnostics_->Warn(Fault::kLineFeedsBeyondPage, line_number,
                       "@1 salts de l\xa1nia passen de la p\x85gina de @2 l\xa1nies; el que "
                       "segueix comen\x87"
                       "a una p\x85gina nova",
                       {std::to_string(feeds), std::to_string(page_.length())});
  }
  if (feeds > 0) {
    row_ = std::min(row_ + feeds, kNumberLimit);
    column_ = 0;
  }
  return true;
}

bool PageComposer::Finish() {
  return EmitOpenPage();
}

}  // namespace zizavezu
