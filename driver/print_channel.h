// The print channel: each print run is written as a print file of directives
// (temporary directory + "zizavezu.tmp"), one CR LF line each, which the
// suite's print program renders afterwards. The channel also keeps the page
// accounting (page length and line feeds since the last page directive) that
// the statement layout uses for its page breaks: it is the production
// DirectiveSink.
//
// The directives, their names and the file's names are those of
// platform/print_file.h, which the print program reads them by.
//
// One channel per report context (driver/report_context.h), one print file
// open at a time, single-threaded. A write failure does not stop the
// directives (none reports failure to its caller); it is remembered and
// reported by Close so that no half-written file is handed on.
#ifndef TELVORAN_DRIVER_PRINT_CHANNEL_H_
#define TELVORAN_DRIVER_PRINT_CHANNEL_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "driver/directive_sink.h"
#include "platform/env.h"
#include "platform/print_file.h"

namespace driver {

using platform::kPrintFileName;
using platform::kPrintLockName;

// The print file path: the temporary directory of the settings followed by
// "zizavezu.tmp".
std::string PrintFilePath(const config::Settings& settings);

class PrintChannel final : public DirectiveSink {
 public:
  PrintChannel() = default;
  // A file still open is dropped, as by Abandon.
  ~PrintChannel() override = default;
  PrintChannel(const PrintChannel&) = delete;
  PrintChannel& operator=(const PrintChannel&) = delete;

  // Creates (or overwrites) the print file at path, through the current Env,
  // and writes the DEVICE line. Returns false when the file cannot be
  // created. A file still open is closed first.
  bool Open(const std::string& path, const std::string& device);
  // Closes the print file and puts it in place of the previous one. Returns
  // false when it could not be created, any write failed, or the close
  // itself failed; the previous print file (if any) is then left as it was.
  bool Close();
  // Drops the print file being written: nothing of it is put in place.
  void Abandon();

  void Page(int16_t length) override;
  void Raw(std::string_view text) override;
  // Writes "JUS" + a code that is already in its normal form, for callers
  // that normalise their fixed codes once.
  // REQUIRES: NormaliseJustification(code) == code.
  void Justify(std::string_view code) override;
  // Normalises the code (see NormaliseJustification), writes "JUS" + it and
  // gives the normalised code back in the same variable.
  void NormaliseAndJustify(std::string& code);
  // Writes a text item, control characters blanked; a page directive of the
  // same length comes first when the page is full.
  void Text(int16_t column, std::string_view text, int16_t line_feeds) override;

  // Both keep their values between runs until the next page directive.
  int32_t LineCounter() const override { return line_counter_; }
  int16_t PageLength() const override { return page_length_; }

  // Since Open: the page directives written, and the bytes of the file
  // (all of them once Close succeeded). They tie the run's statement
  // register to its print file.
  int64_t PageDirectives() const { return page_directives_; }
  int64_t BytesWritten() const { return bytes_; }

 private:
  void Flush();
  void EndDirective();
  void DirectiveEnded();

  std::unique_ptr<platform::WritableFile> file_;
  bool ok_ = false;
  int16_t page_length_ = 0;
  int32_t line_counter_ = 0;
  int64_t page_directives_ = 0;
  int64_t bytes_ = 0;
  std::string pending_;  // directives not yet handed to the file
};

// The pure pieces, for the layout and the tests.
std::string FrameNumber(long value);
std::string NormaliseJustification(const std::string& code);
std::string BlankControlCharacters(const std::string& text);

}  // namespace driver

#endif  // TELVORAN_DRIVER_PRINT_CHANNEL_H_
