// An Env whose written files fail on a chosen call, for fault sweeps over
// whatever a run writes through platform::Env::OpenWritable.
#ifndef TELVORAN_TESTSUPPORT_WRITE_FAULTS_H_
#define TELVORAN_TESTSUPPORT_WRITE_FAULTS_H_

#include <memory>
#include <string>

#include "platform/env.h"

namespace testsupport {

// Passes everything to its target; the WritableFiles it opens count their
// Append and Close calls (over all files opened through it, or only over
// the files whose path ends with the filter, when one is set) and the Nth
// of the chosen kind fails:
//   - a failed Append writes nothing and returns false; every later Append
//     on that file returns false and its Close fails;
//   - a failed Close discards the new file (the destination stays as it
//     was, as when the disk fills) and returns false, as do later Closes.
// Sweep: for n = 1, 2, ... run with FailAt(kind, n) until fired() is false.
class WriteFaultEnv : public platform::EnvWrapper {
 public:
  enum class Call { kAppend, kClose };

  // target must outlive the wrapper.
  explicit WriteFaultEnv(platform::Env* target) : EnvWrapper(target) {}

  // Fails the nth call (from 1) of the kind from now on; 0 fails none. The
  // counts start again from zero.
  void FailAt(Call call, int n);
  // Counts only files whose path (as given to OpenWritable) ends with
  // suffix; empty counts every file.
  void set_path_filter(std::string suffix) { filter_ = std::move(suffix); }

  // Calls of each kind counted since the last FailAt, the failed one
  // included.
  int appends() const { return appends_; }
  int closes() const { return closes_; }
  // True once the chosen call has failed.
  bool fired() const { return fired_; }

  std::unique_ptr<platform::WritableFile> OpenWritable(const std::string& path) override;

 private:
  class File;
  // True when this call (the next of its kind) is to fail; counts it.
  bool Count(Call call);

  Call call_ = Call::kAppend;
  int fail_at_ = 0;
  int appends_ = 0;
  int closes_ = 0;
  bool fired_ = false;
  std::string filter_;
};

}  // namespace testsupport

#endif  // TELVORAN_TESTSUPPORT_WRITE_FAULTS_H_
