// A folder of one PDF per statement (the DIR: and CORREU: devices): the
// pieces the print program puts together. The print file's pages are split
// over the copies of its statement register, one PDF each, named by
// platform::StatementFileName; beside them resum.csv (one row per copy:
// its file and figures, for a spreadsheet) and resum.reg (the register with
// each copy's file, written last: the folder is complete once it is there).
// The folder holds one run's statements only: the files an earlier run
// wrote there are removed first, every other file is left alone.
#ifndef TELVORAN_TOOLS_ZIZAVEZU_STATEMENT_FOLDER_H_
#define TELVORAN_TOOLS_ZIZAVEZU_STATEMENT_FOLDER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "platform/statement_register.h"
#include "tools/zizavezu/diagnostics.h"
#include "tools/zizavezu/page.h"
#include "tools/zizavezu/pdf_sink.h"

namespace zizavezu {

inline constexpr char kSummaryCsvName[] = "resum.csv";

// True for the names a run writes in the folder: a statement PDF as
// StatementFileName makes them (digits, optionally "-" and digits,
// optionally "_" and digits, ".pdf"), resum.csv and resum.reg.
bool IsStatementFolderFile(std::string_view name);

// Removes from the folder (a prefix ending in a separator) every entry named
// as IsStatementFolderFile says that is a file or a link (the link itself,
// never its target); folders and every other name stay. False, with
// *failed the path, when one cannot be removed.
bool RemoveStatementFolderFiles(platform::Env& env, const std::string& folder,
                                std::string* failed);

// Creates the folder and the missing folders above it. True when it is a
// folder afterwards.
bool CreateFolders(platform::Env& env, const std::string& folder);

// "-1234,56" for -123456 cents.
std::string DecimalCommaAmount(int64_t cents);
// "dd/mm/yyyy" for "yyyymmdd"; anything else as it is.
std::string DisplayDate(std::string_view yyyymmdd);
// A CSV field: quoted (quotes doubled) when it holds ";", a quote, CR or LF.
std::string CsvField(std::string_view utf8);

// resum.csv: UTF-8 with its byte order mark, ";" between fields, CR LF
// lines; header_utf8 the header row (the locale file's, already UTF-8);
// community_utf8 / administrator_utf8 the words of the last column. The
// entries' texts are CP850.
std::string SummaryCsv(const std::vector<platform::StatementEntry>& entries,
                       const std::string& header_utf8, const std::string& community_utf8,
                       const std::string& administrator_utf8);

// The pages of a print run, one PDF per register entry, each drawn on its
// own: entry i gets its pages (first_page..first_page+pages-1 of the run)
// in folder + entry.file. The faces are loaded once for all of them. The
// folder run uses it when the run's document does not split (pdf_split.h).
class StatementFolderSink : public PageSink {
 public:
  using InfoOf = std::function<PdfDocumentInfo(const platform::StatementEntry&)>;
  // env, entries and diagnostics must outlive the sink.
  StatementFolderSink(platform::Env* env, std::string folder,
                      const std::vector<platform::StatementEntry>* entries,
                      Diagnostics* diagnostics, InfoOf info_of);
  ~StatementFolderSink() override;

  bool EmitPage(const Page& page) override;
  // Finishes the PDF still open. False when anything failed, or when the
  // pages ran out before the entries did.
  bool Close();
  const std::string& error() const { return error_; }
  int64_t bytes_written() const { return bytes_; }
  int64_t files_written() const { return files_; }

 private:
  bool FinishCurrent();

  platform::Env* env_;
  std::string folder_;
  const std::vector<platform::StatementEntry>* entries_;
  Diagnostics* diagnostics_;
  InfoOf info_of_;
  std::shared_ptr<PdfFonts> fonts_ = std::make_shared<PdfFonts>();
  std::unique_ptr<PdfSink> current_;
  size_t entry_ = 0;          // the entry being written
  int64_t entry_pages_ = 0;   // its pages written so far
  int64_t bytes_ = 0;
  int64_t files_ = 0;
  bool closed_ = false;
  std::string error_;
};

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_STATEMENT_FOLDER_H_
