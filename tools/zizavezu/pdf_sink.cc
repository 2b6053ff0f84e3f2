#include "tools/zizavezu/pdf_sink.h"

#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>

#include "platform/cp850.h"

namespace zizavezu {

namespace {

constexpr double kPointsPerInch = 72.0;
constexpr double kSheetWidth = 595.2756;   // A4, 210 mm
constexpr double kSheetHeight = 841.8898;  // A4, 297 mm
constexpr double kLineWidth = 8.0 * kPointsPerInch;
constexpr double kBandHeight = kDefaultPageLength * kPointsPerInch / 6.0;
constexpr double kLeft = (kSheetWidth - kLineWidth) / 2.0;
constexpr double kTop = (kSheetHeight - kBandHeight) / 2.0;
constexpr double kBaseline = 0.78;  // of the line pitch, from the top of a row
constexpr char kFamily[] = "DejaVu Sans Mono";

}  // namespace

PdfFonts::~PdfFonts() {
  for (cairo_font_face_t* face : faces) {
    if (face != nullptr) cairo_font_face_destroy(face);
  }
}

bool PdfFonts::Load(Diagnostics* diagnostics, std::string* error) {
  if (!tried_) {
    tried_ = true;
    loaded_ = LoadFace(0, diagnostics, &error_) && LoadFace(1, diagnostics, &error_);
  }
  if (!loaded_) *error = error_;
  return loaded_;
}

PdfSink::PdfSink(platform::Env* env, std::string path, Diagnostics* diagnostics,
                 std::shared_ptr<PdfFonts> fonts)
    : env_(env), path_(std::move(path)), diagnostics_(diagnostics), fonts_(std::move(fonts)) {
  if (fonts_ == nullptr) fonts_ = std::make_shared<PdfFonts>();
}

PdfSink::~PdfSink() { Close(); }

cairo_status_t PdfSink::WriteToFile(void* closure, const unsigned char* data, unsigned int length) {
  auto* self = static_cast<PdfSink*>(closure);
  if (self->write_failed_ ||
      !self->file_->Append(std::string(reinterpret_cast<const char*>(data), length))) {
    // Remembered here too: cairo does not always carry a stream error over
    // to the surface's status.
    self->write_failed_ = true;
    return CAIRO_STATUS_WRITE_ERROR;
  }
  self->bytes_ += length;
  return CAIRO_STATUS_SUCCESS;
}

// Finds the face through fontconfig and reads the glyph of every CP850 byte
// once, so that drawing needs no character lookups.
bool PdfFonts::LoadFace(int weight, Diagnostics* diagnostics, std::string* error) {
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(kFamily));
  FcPatternAddInteger(pattern, FC_WEIGHT, weight == 1 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (match == nullptr) {
    *error = Localized("no s'ha trobat cap font per al text (fontconfig)");
    return false;
  }
  FcChar8* family = nullptr;
  if (FcPatternGetString(match, FC_FAMILY, 0, &family) != FcResultMatch ||
      std::string(reinterpret_cast<const char*>(family)) != kFamily) {
    if (family != nullptr) {
      diagnostics->Warn(Fault::kFontSubstituted, 0,
                         "la font @1 no hi \x82s; es fa servir @2 i les columnes poden no "
                         "quedar alineades",
                         {kFamily, reinterpret_cast<const char*>(family)});
    } else {
      diagnostics->Warn(Fault::kFontSubstituted, 0,
                         "la font @1 no hi \x82s; es fa servir una altra font i les columnes "
                         "poden no quedar alineades",
                         {kFamily});
    }
  }
  faces[weight] = cairo_ft_font_face_create_for_pattern(match);
  FcPatternDestroy(match);

  cairo_matrix_t unit, identity;
  cairo_matrix_init_identity(&unit);
  cairo_matrix_init_identity(&identity);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_scaled_font_t* scaled = cairo_scaled_font_create(faces[weight], &unit, &identity, options);
  cairo_font_options_destroy(options);
  bool ok = cairo_scaled_font_status(scaled) == CAIRO_STATUS_SUCCESS;
  for (int b = 0; ok && b < 256; ++b) {
    std::string_view utf8 = platform::Cp850ByteToUtf8(static_cast<uint8_t>(b));
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(scaled, 0, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         &glyphs, &count, nullptr, nullptr,
                                         nullptr) == CAIRO_STATUS_SUCCESS &&
        count >= 1) {
      glyph_of_byte[weight][b] = glyphs[0].index;
    }
    cairo_glyph_free(glyphs);
  }
  if (ok) {
    cairo_glyph_t m{glyph_of_byte[weight]['M'], 0, 0};
    cairo_text_extents_t extents;
    cairo_scaled_font_glyph_extents(scaled, &m, 1, &extents);
    advance[weight] = extents.x_advance > 0 ? extents.x_advance : 0.6;
  }
  cairo_scaled_font_destroy(scaled);
  if (!ok) *error = Localized("no es pot carregar la font @1", {kFamily});
  return ok;
}

bool PdfSink::Open() {
  file_ = env_->OpenWritable(path_);
  if (file_ == nullptr) {
    error_ = Localized("no es pot crear @1", {path_});
    return false;
  }
  if (!fonts_->Load(diagnostics_, &error_)) return false;
  surface_ =
      cairo_pdf_surface_create_for_stream(&PdfSink::WriteToFile, this, kSheetWidth, kSheetHeight);
  cairo_pdf_surface_set_metadata(surface_, CAIRO_PDF_METADATA_CREATOR, "ZIZAVEZU");
  cr_ = cairo_create(surface_);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_set_font_options(cr_, options);
  cairo_font_options_destroy(options);
  if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
    error_ = Localized(
        "no es pot comen\x87"
        "ar el PDF @1",
        {path_});
    return false;
  }
  return true;
}

bool PdfSink::EmitPage(const Page& page) {
  if (!error_.empty() || closed_) return false;
  if (cr_ == nullptr && !Open()) return false;

  const double pitch =
      page.length() <= kDefaultPageLength ? kPointsPerInch / 6.0 : kBandHeight / page.length();
  const double cell = kLineWidth / page.columns();
  // The face's advance is made the cell width; the glyphs are made lower
  // (not narrower) when the line pitch is below 6 lines per inch.
  const double shrink = std::min(1.0, pitch * 6.0 / kPointsPerInch);
  cairo_set_source_rgb(cr_, 0, 0, 0);
  int current_weight = -1;
  // Each row is drawn from its first to its last printed cell, blanks
  // included, so that text extraction sees the columns as they are; a blank
  // takes the weight of the cell before it, so runs change weight only where
  // the text does.
  auto flush = [&](int weight) {
    if (glyphs_.empty()) return;
    if (weight != current_weight) {
      cairo_set_font_face(cr_, fonts_->faces[weight]);
      cairo_matrix_t matrix;
      const double size = cell / fonts_->advance[weight];
      cairo_matrix_init_scale(&matrix, size, size * shrink);
      cairo_set_font_matrix(cr_, &matrix);
      current_weight = weight;
    }
    cairo_show_text_glyphs(cr_, utf8_.data(), static_cast<int>(utf8_.size()), glyphs_.data(),
                           static_cast<int>(glyphs_.size()), clusters_.data(),
                           static_cast<int>(clusters_.size()),
                           static_cast<cairo_text_cluster_flags_t>(0));
    glyphs_.clear();
    clusters_.clear();
    utf8_.clear();
  };
  for (int r = 0; r < page.length(); ++r) {
    std::string_view row = page.PrintedRow(r);
    if (row.empty()) continue;
    const double y = kTop + r * pitch + pitch * kBaseline;
    size_t first = row.find_first_not_of(' ');
    int weight = page.Bold(r, static_cast<int>(first)) ? 1 : 0;
    for (size_t c = first; c < row.size(); ++c) {
      uint8_t byte = static_cast<uint8_t>(row[c]);
      if (byte != ' ') {
        int w = page.Bold(r, static_cast<int>(c)) ? 1 : 0;
        if (w != weight) {
          flush(weight);
          weight = w;
        }
      }
      if (platform::IsCp850Control(byte)) byte = ' ';
      std::string_view utf8 = platform::Cp850ByteToUtf8(byte);
      utf8_ += utf8;
      glyphs_.push_back({fonts_->glyph_of_byte[weight][byte], kLeft + c * cell, y});
      clusters_.push_back({static_cast<int>(utf8.size()), 1});
    }
    flush(weight);
  }
  cairo_show_page(cr_);
  if (write_failed_ || cairo_status(cr_) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
    error_ = Localized("no es pot escriure @1", {path_});
    return false;
  }
  return true;
}

bool PdfSink::Close() {
  if (closed_) return error_.empty();
  closed_ = true;
  if (cr_ != nullptr) {
    cairo_destroy(cr_);
    cr_ = nullptr;
  }
  if (surface_ != nullptr) {
    // Outline and information are written with the document's end.
    if (!info_.title.empty())
      cairo_pdf_surface_set_metadata(surface_, CAIRO_PDF_METADATA_TITLE, info_.title.c_str());
    if (!info_.author.empty())
      cairo_pdf_surface_set_metadata(surface_, CAIRO_PDF_METADATA_AUTHOR, info_.author.c_str());
    if (!info_.create_date.empty()) {
      cairo_pdf_surface_set_metadata(surface_, CAIRO_PDF_METADATA_CREATE_DATE,
                                     info_.create_date.c_str());
    }
    for (const PdfOutlineEntry& entry : outline_) {
      const std::string link = "page=" + std::to_string(entry.page);
      cairo_pdf_surface_add_outline(surface_, CAIRO_PDF_OUTLINE_ROOT, entry.title.c_str(),
                                    link.c_str(), static_cast<cairo_pdf_outline_flags_t>(0));
    }
    cairo_surface_finish(surface_);
    if ((write_failed_ || cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) &&
        error_.empty()) {
      error_ = Localized("no es pot escriure @1", {path_});
    }
    cairo_surface_destroy(surface_);
    surface_ = nullptr;
  }
  if (file_ != nullptr && !file_->Close() && error_.empty())
    error_ = Localized("no es pot escriure @1", {path_});
  return error_.empty();
}

}  // namespace zizavezu
