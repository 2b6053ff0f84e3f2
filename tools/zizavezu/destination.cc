#include "tools/zizavezu/destination.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/print_file.h"

namespace zizavezu {

namespace {

// The host path of a system path, made absolute from the current directory
// (where the host resolves a relative one).
std::string AbsoluteHostPath(platform::Env& env, const std::string& system_path) {
  std::string host = env.HostPathOf(system_path);
  if (!host.empty() && host[0] == '/') return host;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return host;
  return std::string(cwd) + "/" + host;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A folder with links, "." and ".." resolved, ending in "/". A folder that
// does not exist (yet) is normalised by its text alone.
std::string CanonicalFolder(const std::string& absolute) {
  std::string out;
  if (char* real = ::realpath(absolute.c_str(), nullptr)) {
    out = real;
    ::free(real);
  } else {
    out = WithoutTrailingSlashes(std::filesystem::path(absolute).lexically_normal().string());
  }
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

// A file's path with its folder made canonical and its last name kept as
// written: a link at the path itself is not followed, since writing
// replaces the link.
std::string CanonicalFile(const std::string& absolute) {
  const std::string path = WithoutTrailingSlashes(absolute);
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return path;
  const std::string name = path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    return WithoutTrailingSlashes(CanonicalFolder(path));
  }
  return CanonicalFolder(slash == 0 ? "/" : path.substr(0, slash)) + name;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when some file under folder (followed as far as its own entries,
// never through a linked folder) is the file of *st.
bool FolderHoldsFile(const std::string& folder, const struct stat& st) {
  std::error_code ec;
  namespace fs = std::filesystem;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    struct stat entry;
    if (::stat(it->path().c_str(), &entry) == 0 && SameFile(entry, st)) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> ProtectedFiles(const InstallationDirs& dirs) {
  return {
      dirs.root_dir + "Nuva.ini",
      dirs.temp_dir + "Sessio.ini",
      dirs.temp_dir + "NuvaTerm.ini",
      dirs.temp_dir + "WinPush.tmp",
      dirs.temp_dir + "Browse.tmp",
      dirs.temp_dir + platform::kPrintFileName,
      dirs.temp_dir + platform::kPrintLockName,
      dirs.terminal_dir + "Sessio.ini",
      dirs.terminal_dir + "NuvaTerm.ini",
      dirs.terminal_dir + "ZELCALC.TMP",
  };
}

std::vector<std::string> ProtectedFolders(const InstallationDirs& dirs) {
  return {dirs.root_dir + "DADES\\", dirs.root_dir + "ddf\\", dirs.root_dir + "FORMS\\",
          dirs.root_dir + "LOCALE\\"};
}

namespace {

// Whether resolved lies under folder (canonical, ending in "/") and not
// inside the temporary folder temp, when temp lies in folder: that is where
// the outputs go when the temporary folder is kept in the root.
bool InsideOutsideTemp(const std::string& resolved, const std::string& folder,
                       const std::string& temp) {
  if (!resolved.starts_with(folder)) return false;
  return !(temp.starts_with(folder) && resolved.starts_with(temp));
}

// The file "env" in the folder that holds the canonical root.
std::string EnvironmentFile(const std::string& root) {
  const std::string folder = WithoutTrailingSlashes(root);
  const size_t slash = folder.rfind('/');
  return (slash == std::string::npos ? std::string() : folder.substr(0, slash + 1)) + "env";
}

}  // namespace

DestinationChecker::DestinationChecker(platform::Env& env, const InstallationDirs& dirs)
    : env_(env) {
  for (const std::string& folder : ProtectedFolders(dirs)) {
    folders_.push_back(CanonicalFolder(AbsoluteHostPath(env, folder)));
  }
  for (const std::string& file : ProtectedFiles(dirs)) {
    files_.push_back(CanonicalFile(AbsoluteHostPath(env, file)));
  }
  // The rest of the installation, the help texts and the programs among
  // it: compared resolved, so a root reached through a link is still the
  // root.
  root_ = CanonicalFolder(AbsoluteHostPath(env, dirs.root_dir));
  temp_ = CanonicalFolder(AbsoluteHostPath(env, dirs.temp_dir));
  environment_ = EnvironmentFile(root_);
  if (!dirs.program_dir.empty()) {
    program_ = CanonicalFolder(AbsoluteHostPath(env, dirs.program_dir));
  }
}

DestinationCheck DestinationChecker::Check(const std::string& path) const {
  DestinationCheck check;
  check.resolved = CanonicalFile(AbsoluteHostPath(env_, path));
  for (const std::string& folder : folders_) {
    if (check.resolved.starts_with(folder)) {
      check.verdict = DestinationVerdict::kProtected;
      return check;
    }
  }
  for (const std::string& file : files_) {
    if (check.resolved == file) {
      check.verdict = DestinationVerdict::kProtected;
      return check;
    }
  }
  if (InsideOutsideTemp(check.resolved, root_, temp_) || check.resolved == environment_ ||
      check.resolved.starts_with(root_ + "AJUDA/") ||
      (!program_.empty() && InsideOutsideTemp(check.resolved, program_, temp_))) {
    check.verdict = DestinationVerdict::kInstallation;
    return check;
  }

  struct stat st;
  if (::lstat(check.resolved.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return check;
  if (!S_ISREG(st.st_mode)) {
    check.verdict = DestinationVerdict::kNotRegularFile;
    return check;
  }
  // A second name of a protected file.
  for (const std::string& file : files_) {
    struct stat other;
    if (::stat(file.c_str(), &other) == 0 && SameFile(other, st)) {
      check.verdict = DestinationVerdict::kProtected;
      return check;
    }
  }
  // A program (wherever it lies: a second name of one in the program
  // folder, a tool of the host), or a second name of the environment file.
  struct stat other;
  if ((st.st_mode & 0111) != 0 ||
      (::stat(environment_.c_str(), &other) == 0 && SameFile(other, st))) {
    check.verdict = DestinationVerdict::kInstallation;
    return check;
  }
  if (st.st_nlink > 1) {
    std::vector<std::string> folders = folders_;
    folders.push_back(root_ + "AJUDA/");
    for (const std::string& folder : folders) {
      if (FolderHoldsFile(folder, st)) {
        check.verdict = DestinationVerdict::kProtected;
        return check;
      }
    }
  }
  return check;
}

DestinationCheck CheckDestination(platform::Env& env, const std::string& path,
                                  const InstallationDirs& dirs) {
  return DestinationChecker(env, dirs).Check(path);
}

}  // namespace zizavezu
