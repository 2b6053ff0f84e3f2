// The data layer's definition file reader over arbitrary bytes: the input is
// root + "ddf\Fz.xdf" for a data file that does not exist yet, so the open
// creates the file from it (CreateFromDefinition) and opens it again. The
// open either fails with a status, without ending the program here, or gives
// a file the layer can read from.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "datafiles/file_messages.h"
#include "datafiles/record_file.h"
#include "fuzz/fuzz_support.h"
#include "platform/env.h"

namespace {

const std::string& Root() {
  static const std::string root = [] {
    const std::string dir = fuzz::ScratchDir();
    platform::DefaultEnv()->CreateDirectory(dir + "ddf");
    datafiles::DataFileUi ui;
    ui.open_failure = [](const std::string&) {};
    ui.show_message = [](int, const std::string&) {};
    ui.remove_message = [] {};
    ui.end_program = [] {};  // the open returns its failure status instead
    datafiles::SetDataFileUi(ui);
    return dir;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = Root();
  config::ModuleSettings().root_dir = root;
  const std::string data_file = root + "Fz.dat";
  for (const char* suffix : {"", "-lck", "-wal", "-shm"}) ::unlink((data_file + suffix).c_str());
  fuzz::WriteHostFile(root + "ddf/Fz.xdf", data, size);

  static char record[datafiles::kDataBufferSize];
  platform::Status status = 0;
  datafiles::RecordFileOpen(1, root + "Fz", record, status);
  if (status == 0) {
    datafiles::RecordFileSeek(1, 0, "", 1, status);
    FUZZ_CHECK(status != 0);  // a new file has no records
    datafiles::RecordFileSkip(1, 1, status);
    datafiles::RecordFilePosition(1, 0);
    datafiles::RecordFileCurrentKeyForm(1);
  }
  platform::Status reset = 0;
  datafiles::RecordFilesReset(reset);
  FUZZ_CHECK(reset == 0);
  return 0;
}
