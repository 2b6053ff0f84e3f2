// telvoran-setup --check: reads what the programs of an installation will
// read and says each problem found, with its file and line, in the
// installation's language.
#ifndef TELVORAN_TOOLS_TELVORAN_SETUP_CHECK_H_
#define TELVORAN_TOOLS_TELVORAN_SETUP_CHECK_H_

#include <filesystem>

#include "platform/env.h"

namespace telvoran_setup {

// Exit statuses of a check.
inline constexpr int kCheckClean = 0;
inline constexpr int kCheckErrors = 1;    // something a run fails on or prints wrong
inline constexpr int kCheckWarnings = 3;  // only warnings: printed, but likely not as meant

struct CheckPlaces {
  std::filesystem::path root;         // the installation's root (ZELROOT)
  std::filesystem::path share;        // the package's shared folder (its locale gives the texts)
  std::filesystem::path program_dir;  // where ZIZAVEZU must be (ZELEXE)
  std::filesystem::path temp_dir;     // a workstation's temporary folder; empty: none checked
};

// Writes one line per problem on stdout ("FILE:LINE: error: ...", the line
// where the problem has one), then a summary line; returns kCheckClean,
// kCheckErrors or kCheckWarnings. Writes no file. Sets the module-wide
// language to the installation's: the temporary folder's NuvaTerm.ini
// [Sistema] Idioma, else the root's Nuva.ini [Usuari] Idioma.
int CheckInstallation(platform::Env& env, const CheckPlaces& places);

}  // namespace telvoran_setup

#endif  // TELVORAN_TOOLS_TELVORAN_SETUP_CHECK_H_
