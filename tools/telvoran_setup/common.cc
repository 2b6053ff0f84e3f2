#include "tools/telvoran_setup/common.h"

#include <algorithm>
#include <memory>
#include <system_error>

#include "config/locale.h"

namespace telvoran_setup {

std::string Text(const std::string& catalan, const std::vector<std::string>& values) {
  return config::TranslateForTerminal(catalan, values);
}

void Say(std::FILE* to, const std::string& line) {
  std::fprintf(to, "%s\n", line.c_str());
}

int Fail(const std::string& line) {
  Say(stderr, "telvoran-setup: " + line);
  return 1;
}

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string WithSeparator(const fs::path& dir) {
  std::string text = dir.string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

fs::path ProgramFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return self.parent_path();
}

bool ReadWholeFile(platform::Env& env, const fs::path& path, std::string* bytes) {
  std::unique_ptr<platform::RandomAccessFile> file = env.OpenForReading(path.string());
  const int64_t size = file ? file->Size() : -1;
  if (size < 0 || !file->Read(0, static_cast<size_t>(size), bytes) ||
      bytes->size() != static_cast<size_t>(size)) {
    Fail(Text("No es pot llegir @1", {path.string()}));
    return false;
  }
  return true;
}

bool WriteWholeFile(platform::Env& env, const fs::path& path, const std::string& bytes) {
  std::unique_ptr<platform::WritableFile> file = env.OpenWritable(path.string());
  const bool appended = file && file->Append(bytes);
  if (!file || !file->Close() || !appended) {
    Fail(Text("No es pot escriure @1", {path.string()}));
    return false;
  }
  return true;
}

bool RegularFilesOf(const fs::path& folder, std::vector<fs::path>* files) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec)) files->push_back(it->path());
  }
  if (ec) {
    Fail(Text("No es pot llegir @1", {folder.string()}));
    return false;
  }
  std::sort(files->begin(), files->end());
  return true;
}

fs::path AbsoluteFolder(const std::string& given) {
  std::error_code ec;
  fs::path dir = fs::absolute(given, ec).lexically_normal();
  if (!dir.has_filename() && dir.has_relative_path()) dir = dir.parent_path();
  return dir;
}

bool NameableFolder(const fs::path& dir) {
  // The settings files name the folder: the INI reader ends a value at ";"
  // and a line at CR or LF, and the module reads every "\" of a path as
  // "/". (The env file quotes the folders for the shell, so it carries any
  // byte.)
  if (dir.string().find_first_of(";\r\n\\") == std::string::npos) return true;
  Fail(
      Text("El cam\xa1 @1 t\x82 un car\x85"
           "cter que els fitxers de configuraci\xa2 no poden guardar (; \\ o un salt "
           "de l\xa1nia); trieu una altra carpeta",
           {dir.string()}));
  return false;
}

}  // namespace telvoran_setup
