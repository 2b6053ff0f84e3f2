// The data layer's texts in the four interface languages (code page 850)
// and the seam through which the layer reaches the user. The console kit is
// above this layer, so the driver installs the console versions of these
// callbacks at start-up; until then the defaults write on stderr.
//
// Single-threaded; the installed callbacks live for the whole process.
#ifndef TELVORAN_DATAFILES_FILE_MESSAGES_H_
#define TELVORAN_DATAFILES_FILE_MESSAGES_H_

#include <functional>
#include <string>

#include "platform/types.h"

namespace datafiles {

// Screen rows of the two messages (the console's message window rows).
inline constexpr int kOpenFailureRow = 12;
inline constexpr int kLockWaitRow = 24;

// The open failure text, ending in a blank. The language code is compared
// exactly ("SPA", "GLG", "OCI"); anything else is Catalan.
std::string OpenFailureText(const std::string& language);
// The lock wait text.
std::string LockWaitText(const std::string& language);
// Open failure text + logical name + " (" + status + ")".
std::string OpenFailureMessage(const std::string& language, const std::string& logical_name,
                               platform::Status status);

// Why the last record manager call failed on the database server, for the
// user beside its status (code page 850, the installation's language):
// the server's own words, or that it gave no answer in time. Only an I/O
// error (status 2) has one: the other statuses say what they mean
// themselves. Empty when that call did not fail on a server.
std::string ServerFailureText(platform::Status status);
// The same whatever the status (for a tool that shows every status's
// reason).
std::string ServerFailureText();

struct DataFileUi {
  // Shows the open failure message at kOpenFailureRow, beeps, discards
  // waiting keys, waits for one key and removes the window.
  // Default: writes the message and a newline on stderr.
  std::function<void(const std::string& message)> open_failure;
  // Shows the lock wait text in a message window at row. Default: stderr.
  std::function<void(int row, const std::string& text)> show_message;
  // Removes the window show_message left. Default: nothing.
  std::function<void()> remove_message;
  // Called after an open failure (the layer has been reset by then): the
  // program's place to end. The layer itself never ends the process: the
  // default does nothing, and an end_program that returns makes the open
  // return the failure status.
  std::function<void()> end_program;
};

// Installs ui; members left empty get the defaults.
void SetDataFileUi(DataFileUi ui);
// The callbacks in force, defaults filled in.
const DataFileUi& CurrentDataFileUi();

}  // namespace datafiles

#endif  // TELVORAN_DATAFILES_FILE_MESSAGES_H_
