// Splitting a whole run's PDF, as PdfSink writes it, into documents of a
// few pages each without drawing them again: each part gets the run's own
// objects of its pages (contents, resources, the embedded fonts, already
// compressed) renumbered under a page tree, a catalog and its information.
// The fonts are subset and compressed once for the whole run, which is
// what drawing every part on its own surface spends most of its time on.
//
// Only the layout PdfSink's cairo writes is read: a classic cross-reference
// table, a catalog whose page tree is one level of pages. Anything else
// does not load, and the caller draws the parts instead.
#ifndef TELVORAN_TOOLS_ZIZAVEZU_PDF_SPLIT_H_
#define TELVORAN_TOOLS_ZIZAVEZU_PDF_SPLIT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/zizavezu/pdf_sink.h"

namespace zizavezu {

class PdfSplitter {
 public:
  // Takes the document. False when it is not laid out as expected.
  bool Load(std::string pdf);
  int64_t pages() const { return static_cast<int64_t>(kids_.size()); }
  // The document of pages first .. first + count - 1 (from 0), with info.
  // REQUIRES: Load succeeded, 0 <= first, count >= 1, first + count <= pages().
  std::string Extract(int64_t first, int64_t count, const PdfDocumentInfo& info) const;

 private:
  struct Object {
    size_t begin = 0;     // the body, after its "N 0 obj" line
    size_t dict_end = 0;  // where its dictionary part ends (a stream's data follows)
    size_t end = 0;       // before "endobj"
    bool present = false;
  };
  std::string_view Dict(int number) const;

  std::string pdf_;
  std::vector<Object> objects_;  // by number
  std::vector<int> kids_;        // the page objects, in order
  int pages_object_ = 0;
};

// A PDF text string: literal for printable ASCII, UTF-16BE with its byte
// order mark (hexadecimal) otherwise.
std::string PdfTextString(std::string_view utf8);

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_PDF_SPLIT_H_
