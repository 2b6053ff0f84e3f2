#include "platform/fake_env.h"

namespace platform {

FakeEnv::FakeEnv(std::string root) : EnvWrapper(DefaultEnv()), root_(std::move(root)) {}

std::string FakeEnv::GetVar(const std::string& name) {
  auto it = vars_.find(name);
  return it == vars_.end() ? std::string() : it->second;
}

std::string FakeEnv::Resolve(const std::string& path) const {
  std::string host = HostPath(path);
  if (root_.empty() || host.empty() || host[0] == '/') return host;
  return root_ + host;
}

std::unique_ptr<SequentialFile> FakeEnv::OpenSequential(const std::string& path) {
  return target()->OpenSequential(Resolve(path));
}

std::unique_ptr<WritableFile> FakeEnv::OpenWritable(const std::string& path) {
  return target()->OpenWritable(Resolve(path));
}

std::unique_ptr<RandomAccessFile> FakeEnv::OpenRandomAccess(const std::string& path, bool create) {
  return target()->OpenRandomAccess(Resolve(path), create);
}

std::unique_ptr<RandomAccessFile> FakeEnv::OpenForReading(const std::string& path) {
  return target()->OpenForReading(Resolve(path));
}

bool FakeEnv::FileExists(const std::string& path) {
  return target()->FileExists(Resolve(path));
}

bool FakeEnv::IsDirectory(const std::string& path) {
  return target()->IsDirectory(Resolve(path));
}

bool FakeEnv::DeleteFile(const std::string& path) {
  return target()->DeleteFile(Resolve(path));
}

bool FakeEnv::CreateDirectory(const std::string& path) {
  return target()->CreateDirectory(Resolve(path));
}

bool FakeEnv::SetCurrentDirectory(const std::string& path) {
  cwd_ = path;
  return true;
}

void FakeEnv::SleepMs(int milliseconds) {
  ++sleep_calls_;
  if (milliseconds > 0) slept_ms_ += milliseconds;
}

double FakeEnv::RandomFraction() {
  // xorshift64*: repeatable across runs and hosts.
  random_state_ ^= random_state_ >> 12;
  random_state_ ^= random_state_ << 25;
  random_state_ ^= random_state_ >> 27;
  uint64_t r = random_state_ * 0x2545F4914F6CDD1Dull;
  return static_cast<double>(r >> 11) * (1.0 / 9007199254740992.0);
}

int FakeEnv::RunProgram(const std::string& program, const std::vector<std::string>& args) {
  runs_.push_back(ProgramRun{program, args});
  return run_result_;
}

int FakeEnv::RunProgramCaptured(const std::string& program, const std::vector<std::string>& args,
                                std::string* output, const StopCheck& stop) {
  runs_.push_back(ProgramRun{program, args});
  const bool stopped = stop && stop([this] { ++holds_; });
  *output = run_output_;
  return stopped ? kStopped : run_result_;
}

}  // namespace platform
