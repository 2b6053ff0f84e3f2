// Scratch folders and whole-file helpers for tests.
#ifndef TELVORAN_TESTSUPPORT_SCRATCH_DIR_H_
#define TELVORAN_TESTSUPPORT_SCRATCH_DIR_H_

#include <string>

namespace testsupport {

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the object goes. Throws std::runtime_error when no
// folder can be made (GoogleTest reports it as a failure of the test).
class ScratchDir {
 public:
  // prefix names the folder ("/tmp/PREFIX-XXXXXX").
  explicit ScratchDir(const std::string& prefix = "telvoran");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The host path, ending in "/".
  const std::string& path() const { return path_; }
  // path() + name.
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Writes the bytes as the whole file, making its missing folders. Returns
// false when it cannot.
bool WriteFile(const std::string& path, const std::string& bytes);

}  // namespace testsupport

#endif  // TELVORAN_TESTSUPPORT_SCRATCH_DIR_H_
