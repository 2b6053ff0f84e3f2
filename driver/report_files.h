// The seven data files of the report and their record buffers. The buffers
// are owned here for the whole process and registered with the record file
// layer at open, so every later read of a file rewrites its buffer.
#ifndef TELVORAN_DRIVER_REPORT_FILES_H_
#define TELVORAN_DRIVER_REPORT_FILES_H_

#include <cstdint>
#include <string>

namespace driver {

struct ReportBuffers {
  std::string expense_type;
  std::string receipt_type;
  std::string community;
  std::string group_assignment;
  std::string owner;
  std::string payment;
  std::string collection;
};

// The process-wide buffers, each datafiles::kDataBufferSize bytes long (the
// longest record the layer accepts), its record's fields at the front.
ReportBuffers& Buffers();

// Opens the seven files in the driver's order (501, 504, 511, 512, 513,
// 515, 514). A file that cannot be opened does not return: the record file
// layer shows its message, resets and ends the program.
void OpenReportFiles();

// The logical name ("DADES\PagamH") of one of the seven files by number.
std::string ReportFileName(int16_t number);

}  // namespace driver

#endif  // TELVORAN_DRIVER_REPORT_FILES_H_
