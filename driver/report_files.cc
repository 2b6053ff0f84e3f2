#include "driver/report_files.h"

#include "datafiles/record_file.h"
#include "driver/records.h"
#include "platform/types.h"

namespace driver {

ReportBuffers& Buffers() {
  static ReportBuffers* b = [] {
    auto* buffers = new ReportBuffers();  // registered with the layer: never freed
    // Each buffer holds the longest record the layer accepts, not only its
    // own record: a data file of another layout under one of the names
    // (longer records) is then read into it without writing past its end.
    for (std::string* buffer :
         {&buffers->expense_type, &buffers->receipt_type, &buffers->community,
          &buffers->group_assignment, &buffers->owner, &buffers->payment, &buffers->collection}) {
      buffer->assign(static_cast<size_t>(datafiles::kDataBufferSize), ' ');
    }
    return buffers;
  }();
  return *b;
}

void OpenReportFiles() {
  ReportBuffers& b = Buffers();
  struct {
    int16_t number;
    const char* name;
    std::string* buffer;
  } files[] = {
      {kExpenseTypeFile, "DADES\\TDespesa", &b.expense_type},
      {kReceiptTypeFile, "DADES\\THRebut", &b.receipt_type},
      {kCommunityFile, "DADES\\FinquesH", &b.community},
      {kGroupAssignmentFile, "DADES\\FinDespH", &b.group_assignment},
      {kOwnerFile, "DADES\\PropietH", &b.owner},
      {kPaymentFile, "DADES\\PagamH", &b.payment},
      {kCollectionFile, "DADES\\CobramH", &b.collection},
  };
  for (const auto& f : files) {
    platform::Status status = 0;
    datafiles::RecordFileOpen(f.number, f.name, f.buffer->data(), status);
  }
}

}  // namespace driver
