// Where the statement layout writes: the print file's directives (see
// platform/print_file.h) as calls, and the page accounting the layout's page
// breaks follow. The print channel (driver/print_channel.h) is the
// production sink; a test can put one of its own in its place and read what
// the layout wrote.
#ifndef TELVORAN_DRIVER_DIRECTIVE_SINK_H_
#define TELVORAN_DRIVER_DIRECTIVE_SINK_H_

#include <cstdint>
#include <string_view>

namespace driver {

class DirectiveSink {
 public:
  virtual ~DirectiveSink() = default;

  // A new page of length lines: the line counter starts again at 0.
  virtual void Page(int16_t length) = 0;
  // Raw printer text.
  virtual void Raw(std::string_view text) = 0;
  // The justification of the next text item.
  // REQUIRES: NormaliseJustification(code) == code (driver/print_channel.h).
  virtual void Justify(std::string_view code) = 0;
  // A text item at column, followed by line_feeds line feeds.
  virtual void Text(int16_t column, std::string_view text, int16_t line_feeds) = 0;

  // Line feeds written since the last page directive, and the page length
  // it set.
  virtual int32_t LineCounter() const = 0;
  virtual int16_t PageLength() const = 0;
};

}  // namespace driver

#endif  // TELVORAN_DRIVER_DIRECTIVE_SINK_H_
