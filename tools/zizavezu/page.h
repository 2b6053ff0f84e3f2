// The page model: a fixed character grid, one cell per column and one row per
// line, and the composer that turns directives into pages. Pages stream: the
// composer holds one page, hands it to a PageSink when the next one starts or
// the file ends, and reuses its storage, so memory does not grow with the
// page count.
//
// Placement rules on the grid:
//  - columns count from 1; column 0 is the current position, just after the
//    previous text item on the line (column 1 after a line feed);
//  - a blank never erases a cell, as on paper; a later non-blank character
//    replaces an earlier one;
//  - "@e" as raw text switches the page to 12 characters per inch (96
//    columns); without it a page has 10 per inch (80 columns). A PAGE
//    directive starts again at 10 per inch;
//  - rows past the end of the page are not printed: the next text item then
//    starts a new page of the same length (as continuous paper would).
#ifndef TELVORAN_TOOLS_ZIZAVEZU_PAGE_H_
#define TELVORAN_TOOLS_ZIZAVEZU_PAGE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/zizavezu/diagnostics.h"
#include "tools/zizavezu/directive.h"

namespace zizavezu {

// The widest line: 8 inches at 12 characters per inch.
inline constexpr int kMaxColumns = 96;
// The width of a page that has not seen "@e": 8 inches at 10 per inch.
inline constexpr int kPlainColumns = 80;
inline constexpr int kDefaultPageLength = 66;
// Longer pages would need a line pitch below 12 lines per inch on A4.
inline constexpr int kMaxPageLength = 132;

class Page {
 public:
  // Starts an empty page of length rows (1..kMaxPageLength) at 10 per inch.
  void Reset(int length);

  int length() const { return length_; }
  bool compressed() const { return compressed_; }
  void set_compressed(bool on) { compressed_ = on; }
  // Columns that are printed: 96 at 12 per inch, 80 at 10 per inch.
  int columns() const { return compressed_ ? kMaxColumns : kPlainColumns; }

  // REQUIRES: 0 <= row < length(), 0 <= column < kMaxColumns.
  // A blank byte leaves the cell as it is.
  void Put(int row, int column, char byte, bool bold);

  // Row r: kMaxColumns CP850 bytes, blank where nothing was printed.
  const std::string& Row(int r) const { return text_[r]; }
  bool Bold(int r, int column) const { return bold_[r][column] != 0; }
  bool RowHasBold(int r) const { return row_has_bold_[r] != 0; }
  bool RowEmpty(int r) const { return row_used_[r] == 0; }
  // The printed row text: the first columns() cells, trailing blanks removed.
  std::string_view PrintedRow(int r) const;

 private:
  int length_ = 0;
  bool compressed_ = false;
  std::vector<std::string> text_;
  std::vector<std::string> bold_;
  std::string row_used_;
  std::string row_has_bold_;
};

// Receives finished pages. Returns false when the page could not be written;
// the composer then stops.
class PageSink {
 public:
  PageSink() = default;
  PageSink(const PageSink&) = delete;
  PageSink& operator=(const PageSink&) = delete;
  virtual ~PageSink() = default;
  virtual bool EmitPage(const Page& page) = 0;
};

class PageComposer {
 public:
  // sink and diagnostics must outlive the composer.
  PageComposer(PageSink* sink, Diagnostics* diagnostics);

  // Applies one directive read from print file line line_number. Returns
  // false once the sink has failed.
  bool Feed(const Directive& directive, int64_t line_number);
  // Hands over the last page. Returns false when the sink failed.
  bool Finish();

  int64_t pages() const { return pages_; }

 private:
  bool StartPage(int length);
  bool EmitOpenPage();
  bool PlaceText(const Directive& d, int64_t line_number);

  PageSink* sink_;
  Diagnostics* diagnostics_;
  Page page_;
  bool open_ = false;
  bool ok_ = true;
  int64_t pages_ = 0;
  int64_t row_ = 0;
  int64_t column_ = 0;  // 0-based cell of the current position
  Justification pending_;
  bool compress_next_ = false;  // "@e" seen before any page
  int64_t wide_line_ = 0;       // first line that printed past column 80
};

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_PAGE_H_
