// A record manager that fails a chosen call, installed through the data
// layer's seam (datafiles::SetRecordManager), for fault sweeps over a run.
#ifndef TELVORAN_TESTSUPPORT_RECORD_MANAGER_FAULTS_H_
#define TELVORAN_TESTSUPPORT_RECORD_MANAGER_FAULTS_H_

#include <cstdint>
#include <functional>

#include "platform/types.h"
#include "recmgr/record_manager.h"

namespace testsupport {

// While it lives, every record manager call of the record file layer goes
// through it: calls are counted (only those the filter accepts, when one is
// given) and the Nth counted one returns the status without reaching the
// engine; with persistent(), every counted call from the Nth on fails. The
// other calls go to the engine. The destructor restores the engine.
// Sweep: for n = 1, 2, ... run with a new RecordManagerFaults(n, status)
// until fired() is false.
class RecordManagerFaults {
 public:
  // Which calls are counted: given the operation (with any lock bias).
  using Filter = std::function<bool(uint16_t operation)>;

  // fail_at 0 fails nothing (counting only).
  explicit RecordManagerFaults(int fail_at = 0, platform::Status status = recmgr::kIoError,
                               Filter filter = nullptr);
  ~RecordManagerFaults();
  RecordManagerFaults(const RecordManagerFaults&) = delete;
  RecordManagerFaults& operator=(const RecordManagerFaults&) = delete;

  // Every counted call from the Nth on fails, not just the Nth.
  void set_persistent(bool persistent) { persistent_ = persistent; }

  // Counted calls so far, failed ones included.
  int calls() const { return calls_; }
  // Calls that returned the injected status.
  int failures() const { return failures_; }
  bool fired() const { return failures_ > 0; }

 private:
  platform::Status Call(uint16_t operation, uint8_t* position_block, void* data_buffer,
                        uint32_t* data_length, void* key_buffer, uint8_t key_length,
                        int8_t key_number);

  int fail_at_;
  platform::Status status_;
  Filter filter_;
  bool persistent_ = false;
  int calls_ = 0;
  int failures_ = 0;
};

}  // namespace testsupport

#endif  // TELVORAN_TESTSUPPORT_RECORD_MANAGER_FAULTS_H_
