// LoadConfiguration: fills the module-wide settings at start-up from the
// environment variables ZELROOT, ZELEXE, ZELTMP, TERM and the environment-kind
// variables, and from Sessio.ini, NuvaTerm.ini and Nuva.ini. It runs once,
// before anything is shown, and never writes a file.
#ifndef TELVORAN_CONFIG_CONFIGURATION_H_
#define TELVORAN_CONFIG_CONFIGURATION_H_

#include "config/settings.h"
#include "platform/env.h"

namespace config {

// Fills ModuleSettings() from platform::CurrentEnv(), in the documented
// order (the temporary directory changes on the way), and makes "E" the main
// and current currency. Nothing here fails: missing values take defaults.
void LoadConfiguration();

// The pure core: the settings as read through env alone (its variables,
// current directory and files); the current Env is neither used nor
// changed.
Settings ReadConfiguration(platform::Env& env);

}  // namespace config

#endif  // TELVORAN_CONFIG_CONFIGURATION_H_
