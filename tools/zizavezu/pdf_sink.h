// PDF output through cairo: A4 portrait, the character grid drawn with
// DejaVu Sans Mono (found through fontconfig, embedded as a subset), one glyph
// per cell at its exact grid position, bold cells in the bold face. Text is
// written with its Unicode meaning attached, so it can be searched and
// extracted. Pages are finished and written as they arrive; the fonts are
// written at Close.
//
// Geometry: 6 lines per inch (a 66-line page is 11 inches, centred on the
// 11.69-inch sheet); a longer page keeps the same band and narrows the line
// pitch. Columns are 6 points wide at 12 characters per inch and 7.2 at 10,
// so both widths are an 8-inch line, centred on the 8.27-inch sheet.
#ifndef TELVORAN_TOOLS_ZIZAVEZU_PDF_SINK_H_
#define TELVORAN_TOOLS_ZIZAVEZU_PDF_SINK_H_

#include <cairo.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tools/zizavezu/diagnostics.h"
#include "tools/zizavezu/page.h"

namespace zizavezu {

// The two faces of the grid (found through fontconfig) and the glyph of
// every CP850 byte in each, loaded once and shared by the sinks of a run
// that writes many PDFs.
class PdfFonts {
 public:
  PdfFonts() = default;
  PdfFonts(const PdfFonts&) = delete;
  PdfFonts& operator=(const PdfFonts&) = delete;
  ~PdfFonts();

  // Loads both faces; a substituted family is a warning on diagnostics.
  // False with *error (localized) when a face cannot be had. Loads once:
  // later calls give the first answer.
  bool Load(Diagnostics* diagnostics, std::string* error);

  // Index 0 regular, 1 bold.
  std::array<cairo_font_face_t*, 2> faces{};
  std::array<std::array<unsigned long, 256>, 2> glyph_of_byte{};
  std::array<double, 2> advance{};  // glyph advance per unit of font size

 private:
  bool LoadFace(int weight, Diagnostics* diagnostics, std::string* error);
  bool tried_ = false;
  bool loaded_ = false;
  std::string error_;
};

// A bookmark of the document: its title (UTF-8) and the page it opens, from 1.
struct PdfOutlineEntry {
  std::string title;
  int64_t page = 0;
};

// The document's information (UTF-8; an empty one is left out). The
// creation date as ISO 8601 ("2026-12-10").
struct PdfDocumentInfo {
  std::string title;
  std::string author;
  std::string create_date;
};

class PdfSink : public PageSink {
 public:
  // env and diagnostics must outlive the sink; path is a system path. The
  // file is created when the first page arrives. fonts, when given, are
  // shared with other sinks (loaded by the first that needs them);
  // otherwise the sink loads its own.
  PdfSink(platform::Env* env, std::string path, Diagnostics* diagnostics,
          std::shared_ptr<PdfFonts> fonts = nullptr);
  ~PdfSink() override;

  // Set before Close: written into the document as it is finished. Without
  // them the document is what it always was.
  void SetDocumentInfo(PdfDocumentInfo info) { info_ = std::move(info); }
  void SetOutline(std::vector<PdfOutlineEntry> outline) { outline_ = std::move(outline); }

  bool EmitPage(const Page& page) override;
  // Writes the end of the document and closes the file. Returns false when
  // anything failed on the way.
  bool Close();
  const std::string& error() const { return error_; }
  int64_t bytes_written() const { return bytes_; }

 private:
  bool Open();
  static cairo_status_t WriteToFile(void* closure, const unsigned char* data, unsigned int length);

  platform::Env* env_;
  std::string path_;
  Diagnostics* diagnostics_;
  std::unique_ptr<platform::WritableFile> file_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  bool closed_ = false;
  bool write_failed_ = false;
  int64_t bytes_ = 0;
  std::string error_;

  std::shared_ptr<PdfFonts> fonts_;
  PdfDocumentInfo info_;
  std::vector<PdfOutlineEntry> outline_;

  // Reused for every page.
  std::vector<cairo_glyph_t> glyphs_;
  std::vector<cairo_text_cluster_t> clusters_;
  std::string utf8_;
};

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_PDF_SINK_H_
