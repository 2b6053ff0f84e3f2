#include "driver/report_files.h"

#include "datafiles/record_file.h"
#include "driver/records.h"
#include "platform/types.h"

namespace driver {

ReportBuffers::ReportBuffers() {
  // Each buffer holds the longest record the layer accepts, not only its
  // own record: a data file of another layout under one of the names
  // (longer records) is then read into it without writing past its end.
  for (std::string* buffer : {&expense_type, &receipt_type, &community, &group_assignment, &owner,
                              &payment, &collection}) {
    buffer->assign(static_cast<size_t>(datafiles::kDataBufferSize), ' ');
  }
}

namespace {

struct ReportFile {
  int16_t number;
  const char* name;
  std::string ReportBuffers::*buffer;
};

// In the driver's opening order.
constexpr ReportFile kReportFiles[] = {
    {kExpenseTypeFile, "DADES\\TDespesa", &ReportBuffers::expense_type},
    {kReceiptTypeFile, "DADES\\THRebut", &ReportBuffers::receipt_type},
    {kCommunityFile, "DADES\\FinquesH", &ReportBuffers::community},
    {kGroupAssignmentFile, "DADES\\FinDespH", &ReportBuffers::group_assignment},
    {kOwnerFile, "DADES\\PropietH", &ReportBuffers::owner},
    {kPaymentFile, "DADES\\PagamH", &ReportBuffers::payment},
    {kCollectionFile, "DADES\\CobramH", &ReportBuffers::collection},
};

}  // namespace

void OpenReportFiles(ReportBuffers& b) {
  for (const ReportFile& f : kReportFiles) {
    platform::Status status = 0;
    datafiles::RecordFileOpen(f.number, f.name, (b.*f.buffer).data(), status);
  }
}

std::string ReportFileName(int16_t number) {
  for (const ReportFile& f : kReportFiles) {
    if (f.number == number) return f.name;
  }
  return "file " + std::to_string(number);
}

std::vector<std::string> ReportFileNames() {
  std::vector<std::string> names;
  for (const ReportFile& f : kReportFiles) names.push_back(f.name);
  return names;
}

}  // namespace driver
