// The throwaway PostgreSQL server of a test run (started by the pg_server
// CTest fixture, named by an environment variable) and a schema of each
// test's own on it, so that tests sharing the server never see each
// other's files.
#ifndef TELVORAN_TESTSUPPORT_TEST_SERVER_H_
#define TELVORAN_TESTSUPPORT_TEST_SERVER_H_

#include <string>

namespace testsupport {

// The connection string in the environment variable var; empty when unset.
std::string TestServer(const char* var = "TELVORAN_TEST_PG");

// Makes a new schema on the server conninfo names (through the server's
// command-line client, under a deadline) and returns the connection string
// that works in it; empty when it could not be made.
std::string FreshServerSchema(const std::string& conninfo);

// Waits (up to 30 s) until the standby that standby names has replayed
// everything the primary that primary names has written so far. False when
// it did not in time or the servers could not be asked.
bool WaitForStandby(const std::string& primary, const std::string& standby);

}  // namespace testsupport

#endif  // TELVORAN_TESTSUPPORT_TEST_SERVER_H_
