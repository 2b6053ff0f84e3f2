#include "testsupport/record_manager_faults.h"

#include <utility>

#include "datafiles/record_file.h"
#include "recmgr/record_manager.h"

namespace testsupport {

RecordManagerFaults::RecordManagerFaults(int fail_at, platform::Status status, Filter filter)
    : fail_at_(fail_at), status_(status), filter_(std::move(filter)) {
  datafiles::SetRecordManager([this](uint16_t operation, uint8_t* position_block,
                                     void* data_buffer, uint32_t* data_length, void* key_buffer,
                                     uint8_t key_length, int8_t key_number) {
    return Call(operation, position_block, data_buffer, data_length, key_buffer, key_length,
                key_number);
  });
}

RecordManagerFaults::~RecordManagerFaults() { datafiles::SetRecordManager(nullptr); }

platform::Status RecordManagerFaults::Call(uint16_t operation, uint8_t* position_block,
                                           void* data_buffer, uint32_t* data_length,
                                           void* key_buffer, uint8_t key_length,
                                           int8_t key_number) {
  if (!filter_ || filter_(operation)) {
    ++calls_;
    if (fail_at_ > 0 && (calls_ == fail_at_ || (persistent_ && calls_ > fail_at_))) {
      ++failures_;
      return status_;
    }
  }
  return recmgr::RecordManagerCall(operation, position_block, data_buffer, data_length,
                                   key_buffer, key_length, key_number);
}

}  // namespace testsupport
