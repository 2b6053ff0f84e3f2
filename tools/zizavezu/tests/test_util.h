// Helpers shared by the print program's tests (scratch folders and whole-file
// reads and writes come from testsupport): the sample files, running the
// poppler tools with their output captured, and composing pages from
// directive lines in memory.
#ifndef TELVORAN_TOOLS_ZIZAVEZU_TESTS_TEST_UTIL_H_
#define TELVORAN_TOOLS_ZIZAVEZU_TESTS_TEST_UTIL_H_

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tools/zizavezu/diagnostics.h"
#include "tools/zizavezu/directive.h"
#include "tools/zizavezu/page.h"
#include "tools/zizavezu/text_sink.h"

extern char** environ;

namespace zizavezu::testing_util {

inline std::string DataPath(const std::string& name) {
  return std::string(ZIZAVEZU_TEST_DATA) + "/" + name;
}

// The print file with its first line replaced by "DEVICE" + device.
inline std::string WithDevice(const std::string& bytes, const std::string& device) {
  size_t end = bytes.find('\n');
  return "DEVICE" + device + "\r\n" + (end == std::string::npos ? "" : bytes.substr(end + 1));
}

// Runs a program (no shell) and captures its standard output, and its
// standard error in the same pipe when with_stderr. Returns its exit code,
// or -1 when it could not be run.
inline int RunCapture(const std::string& program, const std::vector<std::string>& args,
                      std::string* out, bool with_stderr = false) {
  out->clear();
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  if (with_stderr) posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<std::string> owned{program};
  owned.insert(owned.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return -1;
  }
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    out->append(buffer, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Splits at a separator byte; a final empty piece after a trailing separator
// is dropped.
inline std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    if (at == std::string::npos) {
      if (start < text.size()) pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

// Pages as a sink sees them, for composer tests.
class RecordingSink : public PageSink {
 public:
  struct Seen {
    std::string text;  // text rendering, UTF-8
    bool compressed = false;
    int length = 0;
    std::vector<std::string> bold_rows;  // per row: 'B' where bold, '.' elsewhere
  };
  bool EmitPage(const Page& page) override {
    Seen seen;
    RenderPageText(page, &seen.text);
    seen.compressed = page.compressed();
    seen.length = page.length();
    for (int r = 0; r < page.length(); ++r) {
      std::string marks;
      for (int c = 0; c < kMaxColumns; ++c) marks.push_back(page.Bold(r, c) ? 'B' : '.');
      seen.bold_rows.push_back(marks);
    }
    pages.push_back(seen);
    return fail_after < 0 || static_cast<int>(pages.size()) <= fail_after;
  }
  std::vector<Seen> pages;
  int fail_after = -1;  // fail the page after this many, when not negative
};

struct Composed {
  std::vector<RecordingSink::Seen> pages;
  Diagnostics diagnostics;
};

// Feeds directive lines (CP850) to a composer, as lines 1, 2, ... A DEVICE
// line in first place is skipped, as the program reads it itself.
inline Composed Compose(const std::vector<std::string>& lines) {
  Composed result;
  RecordingSink sink;
  PageComposer composer(&sink, &result.diagnostics);
  int64_t n = 0;
  for (const std::string& line : lines) {
    ++n;
    if (n == 1 && line.rfind("DEVICE", 0) == 0) continue;
    composer.Feed(ParseDirective(line), n);
  }
  composer.Finish();
  result.pages = sink.pages;
  return result;
}

}  // namespace zizavezu::testing_util

#endif  // TELVORAN_TOOLS_ZIZAVEZU_TESTS_TEST_UTIL_H_
