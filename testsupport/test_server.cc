#include "testsupport/test_server.h"

#include <unistd.h>

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

}  // namespace testsupport
