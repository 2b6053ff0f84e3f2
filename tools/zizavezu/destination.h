// Where an output device may write. A PDF or text output never replaces a
// file of the installation: nothing inside the root's data folder
// ("DADES\"), definition folder ("ddf\"), form folder ("FORMS\") or locale
// folder ("LOCALE\"), no settings file (root + "Nuva.ini"; the temporary and
// terminal folders' "Sessio.ini" and "NuvaTerm.ini"), no work file (the
// temporary folder's "WinPush.tmp", "Browse.tmp", the print file
// "zizavezu.tmp" and its run lock "zizavezu.lck", the terminal folder's
// "ZELCALC.TMP"). Nor does it replace anything else of the installation:
// no file under the root (but inside the temporary folder when that lies
// there) or under the program folder (likewise), not the installation's
// "env" (in the folder that holds the root, as telvoran-setup makes it),
// no executable file. Nor does it write into anything that is there and is
// not a regular file (a folder, a device, a pipe). A symbolic link at the
// destination is fine: the write replaces the link, never its target.
//
// Paths are compared as the host resolves them: the destination's folder
// made canonical (links, "." and ".." resolved) with its last name kept,
// compared case for case; a destination that exists is also compared by
// device and inode with every protected file (a second name of a data file).
#ifndef TELVORAN_TOOLS_ZIZAVEZU_DESTINATION_H_
#define TELVORAN_TOOLS_ZIZAVEZU_DESTINATION_H_

#include <string>
#include <vector>

#include "platform/env.h"

namespace zizavezu {

// The installation's folders as the settings give them: system paths, each
// a prefix ending in a separator, or empty for the current directory. A
// relative one is taken from the current directory. program_dir alone may
// be left out (the settings always name one): empty, no program folder is
// looked at.
struct InstallationDirs {
  std::string root_dir;
  std::string temp_dir;
  std::string terminal_dir;
  std::string program_dir;
};

enum class DestinationVerdict {
  kAllowed,
  kProtected,       // a data, definition, settings or work file
  kInstallation,    // any other file of the root or the program folder, the
                    // installation's env, an executable file
  kNotRegularFile,  // there already, and a folder, a device, a pipe...
};

struct DestinationCheck {
  DestinationVerdict verdict = DestinationVerdict::kAllowed;
  std::string resolved;  // the absolute host path compared
};

// The protected files and folders of dirs, as system paths (folders end in
// "\").
std::vector<std::string> ProtectedFiles(const InstallationDirs& dirs);
std::vector<std::string> ProtectedFolders(const InstallationDirs& dirs);

// Decides whether path (a system path, as a device names it) may be
// written. Paths reach the host through env.HostPathOf.
DestinationCheck CheckDestination(platform::Env& env, const std::string& path,
                                  const InstallationDirs& dirs);

// The same for many paths: the installation's folders and files are
// resolved once, when it is made (a folder of a thousand statements is
// checked file by file).
class DestinationChecker {
 public:
  DestinationChecker(platform::Env& env, const InstallationDirs& dirs);
  DestinationCheck Check(const std::string& path) const;

 private:
  platform::Env& env_;
  std::vector<std::string> folders_;  // canonical, ending in "/"
  std::vector<std::string> files_;
  std::string root_, temp_, environment_, program_;
};

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_DESTINATION_H_
