// The host Env on POSIX, the process-wide current Env and the path and
// upper-casing helpers.
#include "platform/env.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <thread>

#include "platform/console.h"

extern char** environ;

namespace platform {

std::string HostPath(const std::string& path) {
  std::string out = path;
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

void UpperAnsi(std::string* text) {
  for (char& c : *text) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) {
      c = static_cast<char>(u - 0x20);
    }
  }
}

std::string UpperAnsiCopy(std::string text) {
  UpperAnsi(&text);
  return text;
}

bool Env::ReadLines(const std::string& path, std::vector<std::string>* lines) {
  lines->clear();
  std::unique_ptr<SequentialFile> file = OpenSequential(path);
  if (!file) return false;
  std::string line;
  while (file->ReadLine(&line)) lines->push_back(line);
  return true;
}

bool Env::WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::unique_ptr<WritableFile> file = OpenWritable(path);
  if (!file) return false;
  bool ok = true;
  for (const std::string& line : lines) ok = file->AppendLine(line) && ok;
  return file->Close() && ok;
}

namespace {

class PosixSequentialFile : public SequentialFile {
 public:
  explicit PosixSequentialFile(FILE* f) : f_(f) {}
  ~PosixSequentialFile() override { std::fclose(f_); }

  bool ReadLineUpTo(std::string* line, size_t limit, bool* longer) override {
    line->clear();
    *longer = false;
    if (eof_) return false;
    bool any = false;
    size_t past_limit = 0;  // bytes of the line dropped
    int last_dropped = 0;
    for (;;) {
      int c = std::getc(f_);
      if (c == EOF) {
        eof_ = true;
        *longer = past_limit > 0;
        return any;
      }
      any = true;
      if (c == '\n') break;
      if (line->size() < limit) {
        line->push_back(static_cast<char>(c));
      } else {
        ++past_limit;
        last_dropped = c;
      }
    }
    if (past_limit == 1 && last_dropped == '\r') {
      past_limit = 0;  // only the CR of the line end did not fit
    } else if (past_limit == 0 && !line->empty() && line->back() == '\r') {
      line->pop_back();
    }
    *longer = past_limit > 0;
    return true;
  }

 private:
  FILE* f_;
  bool eof_ = false;
};

// --- New files in progress -------------------------------------------------
//
// The host paths of the new files being written (see OpenWritable), so that
// a termination signal removes them instead of leaving them behind. Plain
// data: a signal handler reads it.

constexpr int kMaxPendingFiles = 8;
constexpr size_t kPendingPathSize = 4096;
char g_pending_paths[kMaxPendingFiles][kPendingPathSize];
volatile sig_atomic_t g_pending_armed[kMaxPendingFiles];

void RemovePendingFromSignal() {
  for (int i = 0; i < kMaxPendingFiles; ++i) {
    if (g_pending_armed[i]) {
      g_pending_armed[i] = 0;
      ::unlink(g_pending_paths[i]);
    }
  }
}

// The slot now holding host (absolute), or -1 when none is free or the path
// does not fit; the file is then simply not removed by a signal.
int ArmPending(const std::string& host) {
  std::string absolute = host;
  if (absolute.empty() || absolute[0] != '/') {
    char cwd[kPendingPathSize];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return -1;
    absolute = std::string(cwd) + "/" + host;
  }
  if (absolute.size() >= kPendingPathSize) return -1;
  AddSignalCleanup(&RemovePendingFromSignal);
  for (int i = 0; i < kMaxPendingFiles; ++i) {
    if (!g_pending_armed[i]) {
      std::memcpy(g_pending_paths[i], absolute.c_str(), absolute.size() + 1);
      g_pending_armed[i] = 1;
      return i;
    }
  }
  return -1;
}

void DisarmPending(int slot) {
  if (slot >= 0) g_pending_armed[slot] = 0;
}

// --- The program being run ------------------------------------------------
//
// The program RunProgram or RunProgramCaptured waits for, so that a
// termination signal that ends this process ends it too, and waits for it,
// instead of leaving it to run on alone (see EndRunningProgramFromSignal).
// Plain data: a signal handler reads it.

volatile sig_atomic_t g_program_pid = 0;
volatile sig_atomic_t g_program_has_group = 0;
// Set while the program's group is held (SIGSTOP) for a stop question: a
// signal passed on to it then needs a SIGCONT to be acted on.
volatile sig_atomic_t g_program_held = 0;

constexpr int kTerminationSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// Holds the termination signals back while a program is started or reaped,
// so that a handler never misses a program just started nor signals one
// already reaped (whose number may be somebody else's by then).
class TerminationSignalsHeld {
 public:
  TerminationSignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kTerminationSignals) sigaddset(&set, sig);
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
  }
  ~TerminationSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
  TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

  // The mask as it was, for the program started meanwhile.
  const sigset_t& previous() const { return previous_; }

 private:
  sigset_t previous_;
};

// Waits for the program started as pid to end and reaps it into *status.
// False when it cannot be waited for.
bool WaitForProgram(pid_t pid, int* status) {
  bool ended = false;
  for (;;) {
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    // Not reaped yet: a signal arriving now still finds it.
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == 0) {
      ended = true;
      break;
    }
    if (errno != EINTR) break;
  }
  TerminationSignalsHeld held;
  const bool reaped = ended && ::waitpid(pid, status, 0) == pid;
  g_program_pid = 0;
  return reaped;
}

// Written to a new file beside the destination and renamed over it by a
// successful Close; removed otherwise.
class PosixWritableFile : public WritableFile {
 public:
  PosixWritableFile(FILE* f, std::string temp, std::string destination)
      : f_(f),
        temp_(std::move(temp)),
        destination_(std::move(destination)),
        pending_slot_(temp_.empty() ? -1 : ArmPending(temp_)) {}
  ~PosixWritableFile() override {
    if (f_ != nullptr) {
      std::fclose(f_);
      f_ = nullptr;
      Discard();
    }
  }

  bool Append(const std::string& bytes) override {
    if (f_ == nullptr) return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f_) != bytes.size()) {
      ok_ = false;
    }
    return ok_;
  }

  bool Close() override {
    if (f_ != nullptr) {
      if (std::fflush(f_) != 0) ok_ = false;
      if (std::fclose(f_) != 0) ok_ = false;
      f_ = nullptr;
      if (ok_ && !temp_.empty() && ::rename(temp_.c_str(), destination_.c_str()) != 0) {
        ok_ = false;
      }
      if (ok_) {
        DisarmPending(pending_slot_);
      } else {
        Discard();
      }
    }
    return ok_;
  }

 private:
  void Discard() {
    DisarmPending(pending_slot_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }

  FILE* f_;
  std::string temp_;
  std::string destination_;
  int pending_slot_;
  bool ok_ = true;
};

class PosixRandomAccessFile : public RandomAccessFile {
 public:
  PosixRandomAccessFile(int fd, bool writable) : fd_(fd), writable_(writable) {}
  ~PosixRandomAccessFile() override { ::close(fd_); }

  bool Read(uint64_t offset, size_t n, std::string* out) override {
    out->assign(n, '\0');
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, out->data() + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        out->clear();
        return false;
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    out->resize(done);
    return true;
  }

  bool Write(uint64_t offset, const std::string& bytes) override {
    if (!writable_) return false;
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t w = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                           static_cast<off_t>(offset + done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += static_cast<size_t>(w);
    }
    return true;
  }

  int64_t Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
  }

  bool Truncate(uint64_t size) override {
    return writable_ && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
  }

 private:
  int fd_;
  bool writable_;
};

// Opens a regular file for reading only; nullptr for anything else (a
// folder, a FIFO that would block, a device).
int OpenRegularForReading(const std::string& host) {
  int fd = ::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

class PosixFileLock : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override { ::close(fd_); }  // drops the lock, unless shared

  // The lock belongs to the open file, which a started program's copy of
  // the descriptor keeps open.
  bool ShareWithPrograms() override {
    const int flags = ::fcntl(fd_, F_GETFD);
    return flags >= 0 && ::fcntl(fd_, F_SETFD, flags & ~FD_CLOEXEC) == 0;
  }

 private:
  int fd_;
};

class PosixEnv : public Env {
 public:
  std::string GetVar(const std::string& name) override {
    const char* v = std::getenv(name.c_str());
    return v == nullptr ? std::string() : std::string(v);
  }

  CivilDate Today() override {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return CivilDate{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
  }

  std::unique_ptr<SequentialFile> OpenSequential(const std::string& path) override {
    std::string host = HostPath(path);
    if (host.empty()) return nullptr;
    const int fd = OpenRegularForReading(host);
    if (fd < 0) return nullptr;
    FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixSequentialFile>(f);
  }

  void SetVar(const std::string& name, const std::string& value) override {
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  std::unique_ptr<WritableFile> OpenWritable(const std::string& path) override {
    std::string host = HostPath(path);
    if (host.empty() || host.back() == '/') return nullptr;
    struct stat st;
    bool replaces_file = false;
    if (::lstat(host.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return nullptr;
      // A device or a pipe (/dev/null, a FIFO a printer spooler reads) is
      // written as it is: there is no file to replace.
      if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
        int fd = ::open(host.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "wb");
        if (f == nullptr) {
          if (fd >= 0) ::close(fd);
          return nullptr;
        }
        return std::make_unique<PosixWritableFile>(f, std::string(), host);
      }
      if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return nullptr;
      replaces_file = S_ISREG(st.st_mode);
    }
    // The new file's name: the destination's with a suffix nobody else
    // uses; O_EXCL never opens what is there already, a link included.
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, ".new-%ld-%06llx", static_cast<long>(::getpid()),
                    static_cast<unsigned long long>(rng_() & 0xFFFFFF));
      const std::string temp = host + suffix;
      // A file that replaces another is made private first and then given
      // the old one's group and permission bits, so that what somebody
      // restricted (statements hold owners' debts) is never readable more
      // widely, not even while it is written.
      int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      replaces_file ? 0600 : 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return nullptr;
      }
      if (replaces_file) {
        // Only a group the user is in can be given; otherwise the user's own.
        if (::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
        }
        if (::fchmod(fd, st.st_mode & 0777) != 0) {
        }
      }
      FILE* f = ::fdopen(fd, "wb");
      if (f == nullptr) {
        ::close(fd);
        ::unlink(temp.c_str());
        return nullptr;
      }
      return std::make_unique<PosixWritableFile>(f, temp, host);
    }
    return nullptr;
  }

  std::unique_ptr<RandomAccessFile> OpenRandomAccess(const std::string& path,
                                                     bool create) override {
    std::string host = HostPath(path);
    if (host.empty() || IsDirectoryHost(host)) return nullptr;
    int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0);
    int fd = ::open(host.c_str(), flags, 0666);
    if (fd >= 0) {
      // Writes go only to a regular file of one name: never into whatever
      // a second name (a hard link somebody planted) stands for.
      struct stat st;
      if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        ::close(fd);
        fd = -1;
      } else {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return std::make_unique<PosixRandomAccessFile>(fd, true);
      }
    }
    // What may not be written so may still be read.
    fd = OpenRegularForReading(host);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixRandomAccessFile>(fd, false);
  }

  std::unique_ptr<RandomAccessFile> OpenForReading(const std::string& path) override {
    std::string host = HostPath(path);
    if (host.empty()) return nullptr;
    int fd = OpenRegularForReading(host);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixRandomAccessFile>(fd, false);
  }

  std::unique_ptr<FileLock> TryLock(const std::string& path, bool* busy) override {
    *busy = false;
    const std::string host = HostPath(path);
    int fd = ::open(host.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return nullptr;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      *busy = errno == EWOULDBLOCK;
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixFileLock>(fd);
  }

  bool FileExists(const std::string& path) override {
    struct stat st;
    return ::stat(HostPath(path).c_str(), &st) == 0;
  }

  bool IsDirectory(const std::string& path) override { return IsDirectoryHost(HostPath(path)); }

  bool DeleteFile(const std::string& path) override {
    return ::unlink(HostPath(path).c_str()) == 0;
  }

  bool CreateDirectory(const std::string& path) override {
    std::string host = HostPath(path);
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    if (::mkdir(host.c_str(), 0777) == 0) return true;
    return IsDirectoryHost(host);
  }

  std::string GetCurrentDirectory() override {
    std::string buf(4096, '\0');
    if (::getcwd(buf.data(), buf.size()) == nullptr) return std::string();
    buf.resize(std::char_traits<char>::length(buf.c_str()));
    return buf;
  }

  bool SetCurrentDirectory(const std::string& path) override {
    return ::chdir(HostPath(path).c_str()) == 0;
  }

  void SleepMs(int milliseconds) override {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  double RandomFraction() override {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
  }

  // The argv of a program start: pointers into owned, ending in null.
  static std::vector<char*> ArgumentVector(std::vector<std::string>& owned) {
    std::vector<char*> argv;
    for (std::string& a : owned) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
  }

  int RunProgram(const std::string& program, const std::vector<std::string>& args) override {
    std::string host = HostPath(program);
    std::vector<std::string> owned = {host};
    owned.insert(owned.end(), args.begin(), args.end());
    std::vector<char*> argv = ArgumentVector(owned);
    pid_t pid = 0;
    {
      TerminationSignalsHeld held;
      posix_spawnattr_t attributes;
      ::posix_spawnattr_init(&attributes);
      ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
      ::posix_spawnattr_setsigmask(&attributes, &held.previous());
      const int spawned =
          ::posix_spawnp(&pid, host.c_str(), nullptr, &attributes, argv.data(), environ);
      ::posix_spawnattr_destroy(&attributes);
      if (spawned != 0) return kNotStarted;
      g_program_has_group = 0;
      g_program_pid = pid;
    }
    int status = 0;
    if (!WaitForProgram(pid, &status)) return kNotStarted;
    if (!WIFEXITED(status)) return kEndedBySignal;
    int code = WEXITSTATUS(status);
    // posix_spawnp reports an exec failure in the child as exit code 127.
    return code;
  }

  int RunProgramCaptured(const std::string& program, const std::vector<std::string>& args,
                         std::string* output, const StopCheck& stop) override {
    output->clear();
    std::string host = HostPath(program);
    std::vector<std::string> owned = {host};
    owned.insert(owned.end(), args.begin(), args.end());
    std::vector<char*> argv = ArgumentVector(owned);
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return kNotStarted;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    ::posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    ::posix_spawnattr_init(&attributes);
    // A process group of its own, so a stop reaches what it started too (the
    // spooler's client).
    pid_t pid = 0;
    int spawned = 0;
    {
      TerminationSignalsHeld held;
      ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
      ::posix_spawnattr_setpgroup(&attributes, 0);
      ::posix_spawnattr_setsigmask(&attributes, &held.previous());
      spawned = ::posix_spawnp(&pid, host.c_str(), &actions, &attributes, argv.data(), environ);
      if (spawned == 0) {
        g_program_has_group = 1;
        g_program_pid = pid;
      }
    }
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(pipe_fds[1]);
    if (spawned != 0) {
      ::close(pipe_fds[0]);
      return kNotStarted;
    }
    bool stopped = false;
    char buffer[4096];
    for (;;) {
      struct pollfd ready = {pipe_fds[0], POLLIN, 0};
      const int n = ::poll(&ready, 1, 100);
      if (n > 0) {
        const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
        if (got == 0) break;  // every writer has closed it
        if (got < 0 && errno != EINTR && errno != EAGAIN) break;
        if (got > 0) {
          output->append(buffer, static_cast<size_t>(got));
          if (output->size() > kMaxCapturedOutput) {
            output->erase(0, output->size() - kMaxCapturedOutput);
          }
        }
      } else if (n < 0 && errno != EINTR) {
        break;
      }
      if (!stopped && stop) {
        // Not reaped before the loop ends: the group is still this program's.
        const HoldProgram hold = [pid] {
          if (g_program_held) return;
          g_program_held = 1;
          ::kill(-pid, SIGSTOP);
        };
        stopped = stop(hold);
        if (stopped) ::kill(-pid, SIGTERM);
        if (g_program_held) {
          ::kill(-pid, SIGCONT);
          g_program_held = 0;
        }
      }
    }
    ::close(pipe_fds[0]);
    int status = 0;
    if (!WaitForProgram(pid, &status)) return stopped ? kStopped : kNotStarted;
    if (stopped) return kStopped;
    if (!WIFEXITED(status)) return kEndedBySignal;
    return WEXITSTATUS(status);
  }

 private:
  static bool IsDirectoryHost(const std::string& host) {
    struct stat st;
    return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  std::mt19937_64 rng_{std::random_device{}()};
};

Env* g_current = nullptr;

}  // namespace

void EndRunningProgramFromSignal(int sig) {
  const pid_t pid = g_program_pid;
  if (pid <= 0) return;
  g_program_pid = 0;
  const pid_t target = g_program_has_group ? -pid : pid;
  bool request = false;
  for (int termination : kTerminationSignals) request = request || sig == termination;
  ::kill(target, request ? sig : SIGTERM);
  if (g_program_held) ::kill(target, SIGCONT);
  const struct timespec tick = {0, 100 * 1000 * 1000};
  // Asked first; then SIGKILL, and as long again for it to take.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < kProgramEndSeconds * 10; ++i) {
      int status = 0;
      const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
      if (reaped == pid || (reaped < 0 && errno != EINTR)) return;
      ::nanosleep(&tick, nullptr);
    }
    ::kill(target, SIGKILL);
  }
}

bool CloseStandardOutput(int* error) {
  int failure = 0;
  if (std::fflush(stdout) != 0) {
    failure = errno;
  } else if (std::ferror(stdout)) {
    failure = EIO;  // an earlier write failed; its errno is gone
  }
  // A delayed write error (a network file system) comes with the close. A
  // standard output closed before the program started is no loss when
  // nothing was written to it (the flush found nothing to write).
  if (::close(STDOUT_FILENO) != 0 && errno != EBADF && failure == 0) failure = errno;
  if (error != nullptr) *error = failure;
  return failure == 0;
}

Env* DefaultEnv() {
  static PosixEnv* env = new PosixEnv();  // never freed: lives for the process
  return env;
}

Env& CurrentEnv() {
  return g_current != nullptr ? *g_current : *DefaultEnv();
}

ScopedEnvOverride::ScopedEnvOverride(Env* env) : previous_(g_current) {
  g_current = env;
}

ScopedEnvOverride::~ScopedEnvOverride() {
  g_current = previous_;
}

}  // namespace platform
