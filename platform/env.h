// The host seam: files and paths, environment variables, the local date,
// sleep, random fractions and starting programs. Every layer above reaches
// the host only through an Env, so tests substitute fakes (fixed date,
// scripted variables, a file system root) and wrappers that make one call
// fail.
//
// The program is single-threaded; an Env is not safe for concurrent use.
// The process-wide Env returned by CurrentEnv() is owned by whoever installed
// it (the default one lives for the whole process).
#ifndef TELVORAN_PLATFORM_ENV_H_
#define TELVORAN_PLATFORM_ENV_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// A civil date of the local calendar.
struct CivilDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

// A text file read one line at a time. Lines end with CR LF or LF; the ending
// is not part of the line; a final line without an ending is still a line.
// A lone CR inside a line is kept as a byte of that line.
class SequentialFile {
 public:
  SequentialFile() = default;
  SequentialFile(const SequentialFile&) = delete;
  SequentialFile& operator=(const SequentialFile&) = delete;
  virtual ~SequentialFile() = default;

  // Reads the next line into *line. Returns false at the end of the file (or
  // on a read error), leaving *line empty.
  bool ReadLine(std::string* line) {
    bool longer = false;
    return ReadLineUpTo(line, std::string::npos, &longer);
  }
  // ReadLine keeping at most limit bytes of the line: the rest of a longer
  // line is read past and dropped (nothing grows with it), and *longer says
  // so.
  virtual bool ReadLineUpTo(std::string* line, size_t limit, bool* longer) = 0;
};

// A file written from its start, closed explicitly so that a failed write or
// a full disk is reported. The host's files are written beside their place
// and put there by Close (see Env::OpenWritable).
class WritableFile {
 public:
  WritableFile() = default;
  WritableFile(const WritableFile&) = delete;
  WritableFile& operator=(const WritableFile&) = delete;
  virtual ~WritableFile() = default;

  // Appends the bytes as they are. Returns false on failure.
  virtual bool Append(const std::string& bytes) = 0;
  // Appends the line followed by CR LF.
  bool AppendLine(const std::string& line) { return Append(line + "\r\n"); }
  // Flushes and closes. Returns false when any earlier write or the close
  // itself failed (the destination is then left as it was). Further calls do
  // nothing and return the same answer.
  virtual bool Close() = 0;
};

// A binary file with positioned reads and writes.
class RandomAccessFile {
 public:
  RandomAccessFile() = default;
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;
  virtual ~RandomAccessFile() = default;

  // Reads up to n bytes at offset into *out (replacing its contents). Returns
  // false on an I/O error; a short read at the end of the file is not one.
  virtual bool Read(uint64_t offset, size_t n, std::string* out) = 0;
  // Writes the bytes at offset, extending the file as needed.
  virtual bool Write(uint64_t offset, const std::string& bytes) = 0;
  // Current size in bytes, or -1 on error.
  virtual int64_t Size() = 0;
  // Truncates or extends to the given size.
  virtual bool Truncate(uint64_t size) = 0;
};

// An exclusive lock on a file, held while the object lives. Not handed to
// the programs the process starts, unless ShareWithPrograms was called.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  virtual ~FileLock() = default;

  // The programs this process starts from now on hold the lock too (they
  // inherit it): it is free again only once this object and each of them
  // are gone, so a program that outlives its parent (killed with SIGKILL)
  // keeps it until it ends. False when it cannot be shared.
  virtual bool ShareWithPrograms() { return false; }
};

// Maps a system path to the host's: every "\" becomes "/"; case is kept.
std::string HostPath(const std::string& path);

class Env {
 public:
  Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;
  virtual ~Env() = default;

  // Environment variables; an unset variable reads as empty. SetVar changes
  // the process's own (and so what the programs it starts see).
  virtual std::string GetVar(const std::string& name) = 0;
  virtual void SetVar(const std::string& name, const std::string& value) = 0;

  // The local date.
  virtual CivilDate Today() = 0;

  // Paths are the system's own (Windows style, "\" separators); every
  // implementation maps them with HostPath before calling the host.
  // Returns nullptr when the file cannot be opened for reading or is not a
  // regular file (a folder, a FIFO that would block, a device).
  virtual std::unique_ptr<SequentialFile> OpenSequential(const std::string& path) = 0;
  // A new file for the path. The bytes go to a new file beside it, created
  // exclusively (never through a link somebody planted), which takes the
  // permission bits and, where the host allows it, the group of the regular
  // file it replaces (a new name: the mode from the umask; a link replaced:
  // the umask's too), and which Close renames over the path once everything
  // was written:
  // the path holds the old file or the whole new one, never half of one, and
  // a link at the path is replaced, never written through. A file dropped
  // without a successful Close (an error, an abandoned run) is removed, and
  // so is one still being written when a termination signal ends the
  // process (see InstallSignalCleanupHandlers). Returns nullptr when the new
  // file cannot be created.
  virtual std::unique_ptr<WritableFile> OpenWritable(const std::string& path) = 0;
  // Opens for reading and writing a regular file with one name, never
  // through a symbolic link; with create, a missing file is created empty
  // (mode from the umask). A file that may not be written so (a link, a
  // file with a second name, no write permission, a read-only file system)
  // is opened for reading only and every write to it fails. Returns nullptr
  // when the file cannot be opened at all.
  virtual std::unique_ptr<RandomAccessFile> OpenRandomAccess(const std::string& path,
                                                             bool create) = 0;
  // Opens for reading only (through links, like any reader). Writes fail.
  // Returns nullptr when the file cannot be opened.
  virtual std::unique_ptr<RandomAccessFile> OpenForReading(const std::string& path) = 0;
  // Takes the exclusive lock of the file at path without waiting (the file
  // is created empty when missing, never through a link; its bytes are
  // never written). nullptr when another process holds it (*busy true) or
  // the file cannot be opened (*busy false).
  virtual std::unique_ptr<FileLock> TryLock(const std::string& path, bool* busy) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // The path as this Env hands it to the host.
  virtual std::string HostPathOf(const std::string& path) { return HostPath(path); }
  virtual bool IsDirectory(const std::string& path) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  // Creates one directory level. Returns true when it exists afterwards.
  virtual bool CreateDirectory(const std::string& path) = 0;
  virtual std::string GetCurrentDirectory() = 0;
  virtual bool SetCurrentDirectory(const std::string& path) = 0;

  virtual void SleepMs(int milliseconds) = 0;
  // A pseudo-random fraction in [0, 1).
  virtual double RandomFraction() = 0;

  // Starts the program with the arguments, each passed as it is (no shell in
  // between), and waits for it to end. Returns its exit code, kNotStarted
  // when it could not be started, kEndedBySignal when it ran but was ended
  // by a signal (a crash, a kill). A termination signal that ends this
  // process meanwhile is passed on to the program, which is waited for
  // first (see EndRunningProgramFromSignal).
  static constexpr int kNotStarted = -1;
  static constexpr int kEndedBySignal = -2;
  virtual int RunProgram(const std::string& program, const std::vector<std::string>& args) = 0;

  // RunProgram for a program whose words the caller shows itself: its
  // standard output and error go through a pipe into *output (the last
  // kMaxCapturedOutput bytes of them, as written) and its standard input is
  // /dev/null, so it never takes the user's keys. While it runs, stop (when
  // not empty) is asked about every tenth of a second and handed hold.
  // hold() stops the program and everything it started (SIGSTOP to its
  // process group) until that call of stop returns: stop calls it just
  // before it asks the user whether to stop, so that nothing goes on behind
  // the question, and not for a mere look at the keys (a program held ten
  // times a second would have its waits cut short). When stop says false a
  // held program goes on (SIGCONT). Once it says true the program and
  // everything it started are sent SIGTERM and then SIGCONT (a held program
  // acts on a signal only once it goes on), *output still gets what they
  // write until they end, and the result is kStopped. This default runs
  // RunProgram and captures nothing; stop is never asked.
  static constexpr int kStopped = -3;
  static constexpr size_t kMaxCapturedOutput = 65536;
  using HoldProgram = std::function<void()>;
  using StopCheck = std::function<bool(const HoldProgram& hold)>;
  virtual int RunProgramCaptured(const std::string& program, const std::vector<std::string>& args,
                                 std::string* output, const StopCheck& stop) {
    (void)stop;
    output->clear();
    return RunProgram(program, args);
  }

  // Reads a whole text file as lines (see SequentialFile). Returns false when
  // the file cannot be opened; *lines is then empty.
  bool ReadLines(const std::string& path, std::vector<std::string>* lines);
  // Writes the lines, each followed by CR LF. Returns false on any failure.
  bool WriteLines(const std::string& path, const std::vector<std::string>& lines);
};

// The Env of the host. Lives for the whole process.
Env* DefaultEnv();

// For the signal handlers (platform/console.h): the program a host Env's
// RunProgram or RunProgramCaptured is waiting for, if any, gets sig (its
// process group when it has one of its own; SIGTERM in place of a signal
// that is no request to end, such as a crash's; then SIGCONT when it is
// held, see RunProgramCaptured) and is waited for, with
// SIGKILL after kProgramEndSeconds, so that it never outlives this process
// nor the run's lock. Async-signal-safe.
inline constexpr int kProgramEndSeconds = 5;
void EndRunningProgramFromSignal(int sig);

// Flushes and closes standard output (the C stream, which std::cout writes
// through). False when anything written to it was lost (a full disk,
// /dev/full, an I/O error), with *error (when given) the errno of the
// failure: the program then ends with its failure status. Nothing may be
// written to standard output afterwards.
bool CloseStandardOutput(int* error = nullptr);

// The Env the module uses: DefaultEnv() unless a test installed another.
Env& CurrentEnv();

// Installs env as CurrentEnv() for the lifetime of this object and restores
// the previous one afterwards. env must outlive the override.
class ScopedEnvOverride {
 public:
  explicit ScopedEnvOverride(Env* env);
  ~ScopedEnvOverride();
  ScopedEnvOverride(const ScopedEnvOverride&) = delete;
  ScopedEnvOverride& operator=(const ScopedEnvOverride&) = delete;

 private:
  Env* previous_;
};

// Forwards every call to another Env; subclasses override what they fake.
class EnvWrapper : public Env {
 public:
  // target must outlive the wrapper.
  explicit EnvWrapper(Env* target) : target_(target) {}

  std::string GetVar(const std::string& name) override { return target_->GetVar(name); }
  void SetVar(const std::string& name, const std::string& value) override {
    target_->SetVar(name, value);
  }
  CivilDate Today() override { return target_->Today(); }
  std::unique_ptr<SequentialFile> OpenSequential(const std::string& path) override {
    return target_->OpenSequential(path);
  }
  std::unique_ptr<WritableFile> OpenWritable(const std::string& path) override {
    return target_->OpenWritable(path);
  }
  std::unique_ptr<RandomAccessFile> OpenRandomAccess(const std::string& path,
                                                     bool create) override {
    return target_->OpenRandomAccess(path, create);
  }
  std::unique_ptr<RandomAccessFile> OpenForReading(const std::string& path) override {
    return target_->OpenForReading(path);
  }
  std::unique_ptr<FileLock> TryLock(const std::string& path, bool* busy) override {
    return target_->TryLock(path, busy);
  }
  bool FileExists(const std::string& path) override { return target_->FileExists(path); }
  std::string HostPathOf(const std::string& path) override { return target_->HostPathOf(path); }
  bool IsDirectory(const std::string& path) override { return target_->IsDirectory(path); }
  bool DeleteFile(const std::string& path) override { return target_->DeleteFile(path); }
  bool CreateDirectory(const std::string& path) override { return target_->CreateDirectory(path); }
  std::string GetCurrentDirectory() override { return target_->GetCurrentDirectory(); }
  bool SetCurrentDirectory(const std::string& path) override {
    return target_->SetCurrentDirectory(path);
  }
  void SleepMs(int milliseconds) override { target_->SleepMs(milliseconds); }
  double RandomFraction() override { return target_->RandomFraction(); }
  int RunProgram(const std::string& program, const std::vector<std::string>& args) override {
    return target_->RunProgram(program, args);
  }
  int RunProgramCaptured(const std::string& program, const std::vector<std::string>& args,
                         std::string* output, const StopCheck& stop) override {
    return target_->RunProgramCaptured(program, args, output, stop);
  }

 protected:
  Env* target() const { return target_; }

 private:
  Env* target_;
};

// 8-bit upper-casing as the Western ANSI code page does it: a-z and the
// Latin-1 lower-case letters 0xE0-0xFE except 0xF7 lose 0x20.
void UpperAnsi(std::string* text);
std::string UpperAnsiCopy(std::string text);

}  // namespace platform

#endif  // TELVORAN_PLATFORM_ENV_H_
