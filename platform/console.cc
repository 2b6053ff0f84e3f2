#include "platform/console.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/cp850.h"
#include "platform/env.h"

namespace platform {

namespace {

Console* g_console = nullptr;
bool g_insert = false;
std::string g_clipboard;

constexpr int kMaxSignalCleanups = 8;
std::atomic<void (*)()> g_cleanups[kMaxSignalCleanups];
std::atomic<int> g_cleanup_count{0};

}  // namespace

void AddSignalCleanup(void (*cleanup)()) {
  const int n = g_cleanup_count.load();
  for (int i = 0; i < n; ++i) {
    if (g_cleanups[i].load() == cleanup) return;
  }
  if (n == kMaxSignalCleanups) return;
  g_cleanups[n].store(cleanup);
  g_cleanup_count.store(n + 1);
}

void RunSignalCleanups() {
  for (int i = g_cleanup_count.load() - 1; i >= 0; --i) {
    if (void (*cleanup)() = g_cleanups[i].load()) cleanup();
  }
}

namespace {

void OnCleanupSignal(int sig) {
  const int saved_errno = errno;
  EndRunningProgramFromSignal(sig);
  RunSignalCleanups();
  std::signal(sig, SIG_DFL);
  errno = saved_errno;
  std::raise(sig);
}

}  // namespace

void InstallSignalCleanupHandlers() {
  for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) {
    struct sigaction previous;
    if (::sigaction(sig, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnCleanupSignal;
    AddTerminationSignals(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
  }
}

void AddTerminationSignals(sigset_t* set) {
  sigemptyset(set);
  for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(set, sig);
}

bool PrepareSignalPath(const std::string& path, char* out, size_t size) {
  std::string host = CurrentEnv().HostPathOf(path);
  if (!host.empty() && host[0] != '/') {
    char cwd[4096];
    host = ::getcwd(cwd, sizeof cwd) == nullptr ? std::string() : std::string(cwd) + "/" + host;
  }
  if (size == 0) return false;
  out[0] = '\0';
  if (host.empty() || host.size() >= size) return false;
  std::memcpy(out, host.c_str(), host.size() + 1);
  return true;
}

Console& CurrentConsole() {
  if (g_console == nullptr) {
    static MemoryConsole* fallback = new MemoryConsole(25, 80);
    return *fallback;
  }
  return *g_console;
}

ScopedConsoleOverride::ScopedConsoleOverride(Console* console) : previous_(g_console) {
  g_console = console;
}

ScopedConsoleOverride::~ScopedConsoleOverride() {
  g_console = previous_;
}

bool InsertToggle() {
  return g_insert;
}
void SetInsertToggle(bool on) {
  g_insert = on;
}

std::string ClipboardText() {
  return g_clipboard;
}

void SetClipboardText(const std::string& cp850) {
  g_clipboard = cp850;
  CurrentConsole().ClipboardChanged(cp850);
}

MemoryConsole::MemoryConsole(int rows, int cols)
    : rows_(std::clamp(rows, 1, kMaxConsoleRows)),
      cols_(std::clamp(cols, 1, kMaxConsoleCols)),
      cells_(static_cast<size_t>(rows_ * cols_)) {}

void MemoryConsole::SetCursor(int row, int col) {
  if (row >= 1 && row <= rows_) cursor_row_ = row;
  if (col >= 1 && col <= cols_) cursor_col_ = col;
}

void MemoryConsole::Write(const std::string& cp850) {
  for (char c : cp850) {
    ConsoleCell& cell = At(cursor_row_, cursor_col_);
    cell.ch = static_cast<uint8_t>(c);
    cell.attr = attr_;
    if (cursor_col_ < cols_) {
      ++cursor_col_;
    } else if (cursor_row_ < rows_) {
      cursor_col_ = 1;
      ++cursor_row_;
    } else {
      return;  // bottom-right cell: the rest is dropped
    }
  }
}

ConsoleCell MemoryConsole::ReadCell(int row, int col) {
  if (row < 1 || row > rows_ || col < 1 || col > cols_) return ConsoleCell{};
  return At(row, col);
}

void MemoryConsole::Scroll(int top, int left, int bottom, int right, int count, uint8_t fill_attr) {
  top = std::max(top, 1);
  left = std::max(left, 1);
  bottom = std::min(bottom, rows_);
  right = std::min(right, cols_);
  if (top > bottom || left > right || count == 0) return;
  const int height = bottom - top + 1;
  const ConsoleCell blank{' ', fill_attr};
  auto copy_row = [&](int to, int from) {
    for (int c = left; c <= right; ++c) At(to, c) = from == 0 ? blank : At(from, c);
  };
  if (count > 0) {
    for (int r = top; r <= bottom; ++r) {
      int from = r + count;
      copy_row(r, count < height && from <= bottom ? from : 0);
    }
  } else {
    int n = -count;
    for (int r = bottom; r >= top; --r) {
      int from = r - n;
      copy_row(r, n < height && from >= top ? from : 0);
    }
  }
}

ConsoleEvent MemoryConsole::PollEvent() {
  if (!script_.empty()) {
    idle_polls_ = 0;
    ConsoleEvent e = script_.front();
    script_.pop_front();
    return e;
  }
  if (++idle_polls_ <= idle_limit_) return ConsoleEvent{};
  idle_polls_ = 0;
  if (idle_hook_) {
    idle_hook_();
    return ConsoleEvent{};
  }
  throw ScriptExhausted();
}

void MemoryConsole::PushChar(uint8_t ch, uint16_t modifiers, uint8_t scan) {
  ConsoleEvent e;
  e.kind = ConsoleEvent::Kind::kKeyPress;
  e.ch = ch;
  e.scan = scan;
  e.modifiers = modifiers;
  Push(e);
}

void MemoryConsole::PushText(const std::string& cp850) {
  for (char c : cp850) PushChar(static_cast<uint8_t>(c));
}

void MemoryConsole::PushScan(uint8_t scan, uint16_t modifiers) {
  PushChar(0, modifiers, scan);
}

void MemoryConsole::PushRelease(uint8_t scan) {
  ConsoleEvent e;
  e.kind = ConsoleEvent::Kind::kKeyRelease;
  e.scan = scan;
  Push(e);
}

void MemoryConsole::PushMouse(int row, int col, int released_button) {
  ConsoleEvent e;
  e.kind = ConsoleEvent::Kind::kMouse;
  e.row = row;
  e.col = col;
  e.released_button = released_button;
  Push(e);
}

void MemoryConsole::Resize(int rows, int cols) {
  rows = std::clamp(rows, 1, kMaxConsoleRows);
  cols = std::clamp(cols, 1, kMaxConsoleCols);
  std::vector<ConsoleCell> cells(static_cast<size_t>(rows * cols));
  for (int r = 1; r <= std::min(rows, rows_); ++r) {
    for (int c = 1; c <= std::min(cols, cols_); ++c) cells[(r - 1) * cols + (c - 1)] = At(r, c);
  }
  rows_ = rows;
  cols_ = cols;
  cells_ = std::move(cells);
  cursor_row_ = std::min(cursor_row_, rows_);
  cursor_col_ = std::min(cursor_col_, cols_);
  ConsoleEvent e;
  e.kind = ConsoleEvent::Kind::kResize;
  Push(e);
}

std::string MemoryConsole::RowText(int row) {
  std::string out;
  if (row < 1 || row > rows_) return out;
  for (int c = 1; c <= cols_; ++c) out += Cp850ByteToUtf8(At(row, c).ch);
  return out;
}

std::string MemoryConsole::Dump(int first, int last) {
  if (last == 0) last = rows_;
  std::string out;
  for (int r = std::max(first, 1); r <= std::min(last, rows_); ++r) {
    int end = cols_;
    while (end > 0 && At(r, end).ch == ' ') --end;
    for (int c = 1; c <= end; ++c) out += Cp850ByteToUtf8(At(r, c).ch);
    out += '\n';
  }
  return out;
}

std::string MemoryConsole::DumpAttributes(int first, int last) {
  if (last == 0) last = rows_;
  std::string out;
  char hex[3];
  for (int r = std::max(first, 1); r <= std::min(last, rows_); ++r) {
    for (int c = 1; c <= cols_; ++c) {
      std::snprintf(hex, sizeof hex, "%02x", At(r, c).attr);
      out += hex;
    }
    out += '\n';
  }
  return out;
}

}  // namespace platform
