#include "testsupport/write_faults.h"

#include <utility>

namespace testsupport {

class WriteFaultEnv::File : public platform::WritableFile {
 public:
  // owner is null for a file that is not counted.
  File(WriteFaultEnv* owner, std::unique_ptr<platform::WritableFile> inner)
      : owner_(owner), inner_(std::move(inner)) {}

  bool Append(const std::string& bytes) override {
    if (owner_ != nullptr && owner_->Count(Call::kAppend)) failed_ = true;
    if (failed_ || closed_) return false;
    return inner_->Append(bytes);
  }

  bool Close() override {
    if (closed_) return result_;
    closed_ = true;
    if (owner_ != nullptr && owner_->Count(Call::kClose)) failed_ = true;
    if (failed_) {
      inner_.reset();  // dropped unclosed: the new file goes
      result_ = false;
    } else {
      result_ = inner_->Close();
    }
    return result_;
  }

 private:
  WriteFaultEnv* owner_;
  std::unique_ptr<platform::WritableFile> inner_;
  bool failed_ = false;
  bool closed_ = false;
  bool result_ = false;
};

void WriteFaultEnv::FailAt(Call call, int n) {
  call_ = call;
  fail_at_ = n;
  appends_ = 0;
  closes_ = 0;
  fired_ = false;
}

bool WriteFaultEnv::Count(Call call) {
  int& count = call == Call::kAppend ? appends_ : closes_;
  ++count;
  if (call != call_ || fail_at_ <= 0 || count != fail_at_) return false;
  fired_ = true;
  return true;
}

std::unique_ptr<platform::WritableFile> WriteFaultEnv::OpenWritable(const std::string& path) {
  std::unique_ptr<platform::WritableFile> inner = target()->OpenWritable(path);
  if (inner == nullptr) return nullptr;
  const bool counted = filter_.empty() || (path.size() >= filter_.size() &&
                                           path.compare(path.size() - filter_.size(),
                                                        filter_.size(), filter_) == 0);
  return std::make_unique<File>(counted ? this : nullptr, std::move(inner));
}

}  // namespace testsupport
