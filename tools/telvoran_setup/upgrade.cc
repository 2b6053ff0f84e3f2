#include "tools/telvoran_setup/upgrade.h"

#include <string>
#include <system_error>
#include <vector>

#include "tools/telvoran_setup/common.h"

namespace telvoran_setup {

namespace {

// Whether the file at path is the package's copy already: a regular file
// (not a link to one) with the same bytes.
bool SameFile(platform::Env& env, const fs::path& path, const std::string& bytes) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(path, ec))) return false;
  std::string there;
  std::unique_ptr<platform::RandomAccessFile> file = env.OpenForReading(path.string());
  const int64_t size = file ? file->Size() : -1;
  return size == static_cast<int64_t>(bytes.size()) && file->Read(0, bytes.size(), &there) &&
         there == bytes;
}

}  // namespace

int UpgradeInstallation(platform::Env& env, const fs::path& share, const fs::path& root) {
  int failures = 0;
  int replaced = 0;
  for (const char* name : kCopiedFolders) {
    const fs::path folder = root / name;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(folder, ec);
    // The root's folder itself must be one: through a link the files would
    // go wherever it points.
    if (!fs::exists(status) && !fs::create_directory(folder, ec)) {
      Fail(Text("No es pot crear la carpeta @1", {folder.string()}));
      ++failures;
      continue;
    }
    if (fs::exists(status) && !fs::is_directory(status)) {
      Fail(Text("@1 no \x82s una carpeta; no s'hi ha escrit res", {folder.string()}));
      ++failures;
      continue;
    }
    std::vector<fs::path> files;
    if (!RegularFilesOf(share / name, &files)) {
      ++failures;
      continue;
    }
    for (const fs::path& from : files) {
      const fs::path to = folder / from.filename();
      std::string bytes;
      if (!ReadWholeFile(env, from, &bytes)) {
        ++failures;
        continue;
      }
      if (SameFile(env, to, bytes)) continue;
      if (!WriteWholeFile(env, to, bytes)) {
        ++failures;
        continue;
      }
      ++replaced;
      Say(stdout, Text("Renovat @1", {to.string()}));
    }
  }
  if (failures > 0) {
    return Fail(
        Text("L'actualitzaci\xa2 de @1 no s'ha acabat; els fitxers renovats ja s\xa2n "
             "els del paquet, i una altra actualitzaci\xa2 fa la resta",
             {root.string()}));
  }
  Say(stdout, Text("@1: @2 fitxers renovats des de @3; Nuva.ini, les dades i la resta no s'han "
                   "tocat",
                   {root.string(), std::to_string(replaced), share.string()}));
  return 0;
}

}  // namespace telvoran_setup
