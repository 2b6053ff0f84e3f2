// The folder a run of telvoran-setup makes its installation or workstation
// in, and the removal of what the run made there when it fails or is ended
// by a signal.
#ifndef TELVORAN_TOOLS_TELVORAN_SETUP_INSTALLATION_FOLDER_H_
#define TELVORAN_TOOLS_TELVORAN_SETUP_INSTALLATION_FOLDER_H_

#include <signal.h>

#include <filesystem>

namespace telvoran_setup {

// Holds the termination signals off while alive, so that what is made and
// its note come together.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Makes DIR (with the folders above it that are missing, one level at a
// time so that exactly those are known) or takes the empty one there is,
// and arms the removal. False after a message (that DIR is neither new nor
// empty says what it is refused for: a workstation or an installation).
bool StartInstallationFolder(const std::filesystem::path& dir, bool workstation);

// Notes that the run made path, when it is one of DIR's own names.
void NoteMade(const std::filesystem::path& dir, const std::filesystem::path& path);

// Removes what the run made, once. Async-signal-safe.
void RemoveMade();

// The run succeeded: what it made stays.
void FinishInstallationFolder();

}  // namespace telvoran_setup

#endif  // TELVORAN_TOOLS_TELVORAN_SETUP_INSTALLATION_FOLDER_H_
