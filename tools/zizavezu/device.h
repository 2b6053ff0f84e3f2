// The output device named by the DEVICE line (the terminal's Sortida
// setting, exactly as configured; blanks around it do not count):
//
//   PDF:<path>   a PDF file
//   TXT:<path>   UTF-8 text, pages separated by form feeds
//   LP:<queue>   a PDF handed to the printing system with lp -d <queue>
//   DIR:<folder> one PDF per statement copy of the register (see
//                statement_folder.h) in the folder, with resum.csv and
//                resum.reg
//   CORREU:<folder>  the same, for the mail sender that reads the folder
//                afterwards
//   other        a PDF at the temporary folder + "zizavezu.pdf"
//
// The prefixes are read without regard to case. A relative path is taken
// from the temporary folder; an empty one gives the default file name there
// (for a folder, the temporary folder + "resum\").
#ifndef TELVORAN_TOOLS_ZIZAVEZU_DEVICE_H_
#define TELVORAN_TOOLS_ZIZAVEZU_DEVICE_H_

#include <string>
#include <string_view>

#include "platform/statement_register.h"

namespace zizavezu {

struct Device {
  enum class Kind { kPdf, kText, kPrinter, kFolder };
  Kind kind = Kind::kPdf;
  // The file written, as a system path ("\" separators allowed). For a
  // printer, the PDF that is sent. For a folder, the folder as a prefix
  // (ending in "\" or "/").
  std::string path;
  // kPrinter: the queue; empty means the printing system's default.
  std::string queue;
  // kFolder: CORREU: rather than DIR: (rendered the same way; the caller
  // sends the folder's statements afterwards).
  bool mail = false;
  // True when the device text named none of the forms above.
  bool defaulted = false;
};

// What the device writes when the device text names no file.
inline constexpr char kDefaultPdfName[] = "zizavezu.pdf";
inline constexpr char kDefaultTextName[] = "zizavezu.txt";
inline constexpr const char* kDefaultFolderName = platform::kDefaultStatementFolder;

using platform::IsAbsolutePath;

// temp_dir is the temporary folder as a prefix (ending in "\" or ":", or
// empty for the current directory).
Device SelectDevice(std::string_view device_text, const std::string& temp_dir);

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_DEVICE_H_
