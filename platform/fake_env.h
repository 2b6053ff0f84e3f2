// An Env for tests: scripted environment variables (anything not set reads
// as empty, the host's variables are never seen), a fixed local date, relative
// paths resolved under a file system root, sleeps counted instead of slept,
// a repeatable random sequence and recorded program starts.
#ifndef TELVORAN_PLATFORM_FAKE_ENV_H_
#define TELVORAN_PLATFORM_FAKE_ENV_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"

namespace platform {

class FakeEnv : public EnvWrapper {
 public:
  // Files go to the host through DefaultEnv(). root, when not empty, is put
  // in front of every relative path (it should end with "/").
  explicit FakeEnv(std::string root = "");

  void SetVar(const std::string& name, const std::string& value) override { vars_[name] = value; }
  void UnsetVar(const std::string& name) { vars_.erase(name); }
  void SetToday(CivilDate date) { today_ = date; }
  void SetRunResult(int code) { run_result_ = code; }
  // What a captured run reports having written.
  void SetRunOutput(std::string output) { run_output_ = std::move(output); }

  struct ProgramRun {
    std::string program;
    std::vector<std::string> args;
  };
  const std::vector<ProgramRun>& runs() const { return runs_; }
  void ClearRuns() { runs_.clear(); }
  int64_t slept_ms() const { return slept_ms_; }
  int sleep_calls() const { return sleep_calls_; }
  const std::string& current_directory() const { return cwd_; }

  std::string GetVar(const std::string& name) override;
  CivilDate Today() override { return today_; }
  std::unique_ptr<SequentialFile> OpenSequential(const std::string& path) override;
  std::unique_ptr<WritableFile> OpenWritable(const std::string& path) override;
  std::unique_ptr<RandomAccessFile> OpenRandomAccess(const std::string& path, bool create) override;
  std::unique_ptr<RandomAccessFile> OpenForReading(const std::string& path) override;
  std::unique_ptr<FileLock> TryLock(const std::string& path, bool* busy) override {
    return target()->TryLock(Resolve(path), busy);
  }
  bool FileExists(const std::string& path) override;
  std::string HostPathOf(const std::string& path) override {
    return target()->HostPathOf(Resolve(path));
  }
  bool IsDirectory(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  // The current directory is remembered, never changed on the host.
  std::string GetCurrentDirectory() override { return cwd_; }
  bool SetCurrentDirectory(const std::string& path) override;
  void SleepMs(int milliseconds) override;
  double RandomFraction() override;
  int RunProgram(const std::string& program, const std::vector<std::string>& args) override;
  // Recorded as RunProgram; asks stop once (its hold counted in holds()),
  // gives SetRunOutput's text and then kStopped when stop said true,
  // SetRunResult's code otherwise.
  int RunProgramCaptured(const std::string& program, const std::vector<std::string>& args,
                         std::string* output, const StopCheck& stop) override;
  int holds() const { return holds_; }

  // The path as this Env hands it to the host.
  std::string Resolve(const std::string& path) const;

 private:
  std::string root_;
  std::map<std::string, std::string> vars_;
  CivilDate today_{2026, 12, 8};
  int run_result_ = 0;
  int holds_ = 0;
  std::vector<ProgramRun> runs_;
  std::string run_output_;
  int64_t slept_ms_ = 0;
  int sleep_calls_ = 0;
  std::string cwd_;
  uint64_t random_state_ = 0x243F6A8885A308D3ull;
};

}  // namespace platform

#endif  // TELVORAN_PLATFORM_FAKE_ENV_H_
