#include "testsupport/test_server.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace testsupport {

std::string TestServer(const char* var) {
  const char* c = std::getenv(var);
  return c ? c : "";
}

std::string FreshServerSchema(const std::string& conninfo) {
  static int n = 0;
  const std::string schema = "t" + std::to_string(::getpid()) + "_" + std::to_string(++n);
  const std::string cmd =
      "timeout 30 psql -qAtX -d \"" + conninfo + "\" -c 'CREATE SCHEMA " + schema + "' >/dev/null";
  if (std::system(cmd.c_str()) != 0) return "";
  return conninfo + " options='-c search_path=" + schema + "'";
}

namespace {

// The first line a command writes, or empty.
std::string FirstLine(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[256];
    if (std::fgets(buf, sizeof buf, p) != nullptr) out = buf;
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace

bool WaitForStandby(const std::string& primary, const std::string& standby) {
  const std::string lsn =
      FirstLine("timeout 30 psql -qAtX -d \"" + primary + "\" -c 'SELECT pg_current_wal_insert_lsn()'");
  if (lsn.empty()) return false;
  const std::string ask = "timeout 30 psql -qAtX -d \"" + standby +
                          "\" -c \"SELECT pg_last_wal_replay_lsn() >= '" + lsn + "'\"";
  for (int i = 0; i < 1500; ++i) {
    if (FirstLine(ask) == "t") return true;
    ::usleep(20000);
  }
  return false;
}

}  // namespace testsupport
