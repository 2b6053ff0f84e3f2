#include "tools/telvoran_setup/installation_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "tools/telvoran_setup/common.h"

namespace telvoran_setup {

namespace {

// --- What this run made ----------------------------------------------------
//
// A run that fails or is ended by a signal must leave the folder as it was
// found, so that another run can start there: it removes what it made and
// nothing else, never through a link. The signal handler has only what is
// noted here, in plain data, and removes through async-signal-safe calls
// on the folder opened at the start (so a folder swapped for a link
// meanwhile is not followed).

// The names a run makes inside DIR.
constexpr const char* kTopNames[] = {"root", "tmp", "term", "env"};
// Deep enough for what a run makes (root/FORMS/file); anything deeper is
// not its own and stays.
constexpr int kRemovalDepth = 6;

char g_dir_path[PATH_MAX];
// The length of the part of g_dir_path that existed before the run: the
// folders after it (DIR included) are its own. Equal to the whole length
// when DIR existed.
size_t g_existing_length = 0;
bool g_dir_created = false;
int g_dir_fd = -1;
// Which of kTopNames this run made in a DIR that existed, one bit each.
volatile sig_atomic_t g_made_names = 0;
volatile sig_atomic_t g_armed = 0;

bool RemoveTreeAt(int parent, const char* name, int depth);

// Removes what dir_fd holds; true when it is empty afterwards. Entries go
// while the folder is read, so it is read again from its start until a
// pass removes nothing more.
bool RemoveEntries(int dir_fd, int depth) {
  alignas(8) char buffer[2048];
  bool left = false;
  for (bool removed = true; removed;) {
    removed = false;
    left = false;
    if (::lseek(dir_fd, 0, SEEK_SET) != 0) return false;
    ssize_t n = 0;
    while ((n = ::getdents64(dir_fd, buffer, sizeof buffer)) > 0) {
      for (ssize_t at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
        at += entry->d_reclen;
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        if (RemoveTreeAt(dir_fd, name, depth)) {
          removed = true;
        } else {
          left = true;
        }
      }
    }
    if (n < 0) return false;
  }
  return !left;
}

// Removes the entry name of parent, a folder with what it holds; a link is
// removed itself, never followed. True when it is gone.
bool RemoveTreeAt(int parent, const char* name, int depth) {
  if (::unlinkat(parent, name, 0) == 0 || errno == ENOENT) return true;
  if (depth <= 0) return false;
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  RemoveEntries(fd, depth - 1);
  ::close(fd);
  return ::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

}  // namespace

void RemoveMade() {
  if (!g_armed) return;
  g_armed = 0;
  // Another termination signal must not end the removal halfway.
  sigset_t set, previous;
  sigemptyset(&set);
  for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(&set, sig);
  ::sigprocmask(SIG_BLOCK, &set, &previous);
  if (g_dir_fd >= 0) {
    if (g_dir_created) {
      RemoveEntries(g_dir_fd, kRemovalDepth);
    } else {
      for (size_t i = 0; i < sizeof kTopNames / sizeof kTopNames[0]; ++i) {
        if (g_made_names & (1 << i)) RemoveTreeAt(g_dir_fd, kTopNames[i], kRemovalDepth);
      }
    }
  }
  if (g_dir_created) {
    // DIR and the folders above it that the run made, innermost first;
    // rmdir takes only an empty folder, and never a link.
    char path[PATH_MAX];
    std::memcpy(path, g_dir_path, sizeof path);
    size_t length = std::strlen(path);
    while (length > g_existing_length) {
      ::rmdir(path);
      while (length > 0 && path[length - 1] != '/') --length;
      while (length > 1 && path[length - 1] == '/') --length;
      path[length] = '\0';
    }
  }
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
}

void NoteMade(const fs::path& dir, const fs::path& path) {
  if (path.parent_path() != dir) return;
  for (size_t i = 0; i < sizeof kTopNames / sizeof kTopNames[0]; ++i) {
    if (path.filename() == kTopNames[i]) g_made_names = g_made_names | (1 << i);
  }
}

bool StartInstallationFolder(const fs::path& dir, bool workstation) {
  const std::string text = dir.string();
  if (text.size() >= sizeof g_dir_path) {
    Fail(Text("No es pot crear la carpeta @1", {text}));
    return false;
  }
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir, ec))) {
    if (!fs::is_directory(dir, ec) || !fs::is_empty(dir, ec) || ec) {
      Fail(workstation
               ? Text("@1 ja existeix i no \x82s una carpeta buida; el lloc de treball es fa en "
                      "una carpeta nova o buida",
                      {text})
               : Text("@1 ja existeix i no \x82s una carpeta buida; la instal\xfalaci\xa2 nova "
                      "es fa en una carpeta nova o buida",
                      {text}));
      return false;
    }
    SignalsHeld held;
    g_dir_fd = ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_dir_fd < 0) {
      Fail(Text("No es pot llegir @1", {text}));
      return false;
    }
    std::memcpy(g_dir_path, text.c_str(), text.size() + 1);
    g_existing_length = text.size();
    g_dir_created = false;
    g_armed = 1;
    return true;
  }
  std::vector<fs::path> missing;
  for (fs::path at = dir; !fs::exists(fs::symlink_status(at, ec)); at = at.parent_path()) {
    missing.push_back(at);
    if (at == at.parent_path()) break;
  }
  SignalsHeld held;
  std::memcpy(g_dir_path, text.c_str(), text.size() + 1);
  g_existing_length = missing.back().parent_path().string().size();
  g_dir_created = true;
  g_armed = 1;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0777) != 0) {
      // What was made before goes: from the folder just made up.
      if (it == missing.rbegin()) {
        g_armed = 0;
      } else {
        const std::string made = std::prev(it)->string();
        std::memcpy(g_dir_path, made.c_str(), made.size() + 1);
      }
      RemoveMade();
      Fail(Text("No es pot crear la carpeta @1", {text}));
      return false;
    }
  }
  g_dir_fd = ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return true;
}

void FinishInstallationFolder() {
  g_armed = 0;
  if (g_dir_fd >= 0) ::close(g_dir_fd);
  g_dir_fd = -1;
}

}  // namespace telvoran_setup
