// telvoran-setup --upgrade: an installation's copies of the package's
// fixed files made the package's again after a package upgrade.
#ifndef TELVORAN_TOOLS_TELVORAN_SETUP_UPGRADE_H_
#define TELVORAN_TOOLS_TELVORAN_SETUP_UPGRADE_H_

#include <filesystem>

#include "platform/env.h"

namespace telvoran_setup {

// Replaces every file of the root's FORMS, LOCALE, AJUDA and ddf that
// differs from the shared folder's (or is missing, or is a link) with the
// shared folder's, each written beside its place and renamed over it;
// Nuva.ini, the data and anything the package does not have are left.
// Returns the exit status: 0 done, 1 some file could not be replaced (each
// said on stderr; the others are replaced all the same, so a second run
// after the cause is mended finishes it).
int UpgradeInstallation(platform::Env& env, const std::filesystem::path& share,
                        const std::filesystem::path& root);

}  // namespace telvoran_setup

#endif  // TELVORAN_TOOLS_TELVORAN_SETUP_UPGRADE_H_
