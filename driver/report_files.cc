#include "driver/report_files.h"

#include "datafiles/record_file.h"
#include "driver/records.h"
#include "platform/types.h"

namespace driver {

ReportBuffers& Buffers() {
  static ReportBuffers* b = [] {
    auto* buffers = new ReportBuffers();  // registered with the layer: never freed
    buffers->expense_type.assign(kExpenseTypeSize, ' ');
    buffers->receipt_type.assign(kReceiptTypeSize, ' ');
    buffers->community.assign(kCommunitySize, ' ');
    buffers->group_assignment.assign(kGroupAssignmentSize, ' ');
    buffers->owner.assign(kOwnerSize, ' ');
    buffers->payment.assign(kPaymentSize, ' ');
    buffers->collection.assign(kCollectionSize, ' ');
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
