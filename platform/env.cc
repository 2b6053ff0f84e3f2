// The host Env on POSIX, the process-wide current Env and the path and
// upper-casing helpers.
#include "platform/env.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <thread>

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

  bool ReadLine(std::string* line) override {
    line->clear();
    if (eof_) return false;
    bool any = false;
    for (;;) {
      int c = std::getc(f_);
      if (c == EOF) {
        eof_ = true;
        return any;
      }
      any = true;
      if (c == '\n') break;
      line->push_back(static_cast<char>(c));
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
  }

 private:
  FILE* f_;
  bool eof_ = false;
};

class PosixWritableFile : public WritableFile {
 public:
  explicit PosixWritableFile(FILE* f) : f_(f) {}
  ~PosixWritableFile() override { Close(); }

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
    }
    return ok_;
  }

 private:
  FILE* f_;
  bool ok_ = true;
};

class PosixRandomAccessFile : public RandomAccessFile {
 public:
  explicit PosixRandomAccessFile(int fd) : fd_(fd) {}
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

  bool Truncate(uint64_t size) override { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }

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
    if (host.empty() || IsDirectoryHost(host)) return nullptr;
    FILE* f = std::fopen(host.c_str(), "rb");
    if (f == nullptr) return nullptr;
    return std::make_unique<PosixSequentialFile>(f);
  }

  std::unique_ptr<WritableFile> OpenWritable(const std::string& path) override {
    std::string host = HostPath(path);
    if (host.empty()) return nullptr;
    FILE* f = std::fopen(host.c_str(), "wb");
    if (f == nullptr) return nullptr;
    return std::make_unique<PosixWritableFile>(f);
  }

  std::unique_ptr<RandomAccessFile> OpenRandomAccess(const std::string& path,
                                                     bool create) override {
    std::string host = HostPath(path);
    if (host.empty() || IsDirectoryHost(host)) return nullptr;
    int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
    int fd = ::open(host.c_str(), flags, 0666);
    if (fd < 0 && !create && (errno == EACCES || errno == EROFS)) {
      fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) return nullptr;
    return std::make_unique<PosixRandomAccessFile>(fd);
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

  int RunProgram(const std::string& program, const std::vector<std::string>& args) override {
    std::string host = HostPath(program);
    std::vector<std::string> owned;
    owned.push_back(host);
    for (const std::string& a : args) owned.push_back(a);
    std::vector<char*> argv;
    for (std::string& a : owned) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, host.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      return kNotStarted;
    }
    int status = 0;
    for (;;) {
      if (::waitpid(pid, &status, 0) >= 0) break;
      if (errno != EINTR) return kNotStarted;
    }
    if (!WIFEXITED(status)) return kEndedBySignal;
    int code = WEXITSTATUS(status);
    // posix_spawnp reports an exec failure in the child as exit code 127.
    return code;
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
