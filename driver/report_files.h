// The seven data files of the report and their record buffers. The buffers
// belong to the report context (driver/report_context.h) and are registered
// with the record file layer at open, so every later read of a file rewrites
// its buffer.
#ifndef TELVORAN_DRIVER_REPORT_FILES_H_
#define TELVORAN_DRIVER_REPORT_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace driver {

// Each buffer holds datafiles::kDataBufferSize bytes (the longest record the
// layer accepts), its record's fields at the front. Not copied: the layer
// keeps pointers into the buffers of the files opened into them.
struct ReportBuffers {
  ReportBuffers();
  ReportBuffers(const ReportBuffers&) = delete;
  ReportBuffers& operator=(const ReportBuffers&) = delete;

  std::string expense_type;
  std::string receipt_type;
  std::string community;
  std::string group_assignment;
  std::string owner;
  std::string payment;
  std::string collection;
};

// Opens the seven files in the driver's order (501, 504, 511, 512, 513,
// 515, 514) into buffers, which must outlive them (until RecordFilesReset).
// A file already open under its number keeps the buffer it was opened with.
// A file that cannot be opened does not return: the record file layer shows
// its message, resets and ends the program.
void OpenReportFiles(ReportBuffers& buffers);

// The logical name ("DADES\PagamH") of one of the seven files by number.
std::string ReportFileName(int16_t number);

// The logical names of the seven files, in the driver's opening order.
std::vector<std::string> ReportFileNames();

}  // namespace driver

#endif  // TELVORAN_DRIVER_REPORT_FILES_H_
