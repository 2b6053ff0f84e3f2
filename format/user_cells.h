// The formatting settings of the user settings file (ZELROOT + "Nuva.ini",
// section Usuari) that the edit masks and the written dates keep for the
// whole run: each lives in a fixed-length cell that starts filled with NUL
// bytes and is loaded by the first call that finds it so. Module-level state;
// the program is single-threaded.
#ifndef TELVORAN_FORMAT_USER_CELLS_H_
#define TELVORAN_FORMAT_USER_CELLS_H_

#include <span>
#include <string>

namespace format {

// Loads the cell when it is still all NUL: the value of key, left-aligned,
// blank-padded and cut to the cell's length; the fallback (same length) when
// that is all blanks. A cell that already holds something is left alone, so
// the file is read once per run.
// REQUIRES: fallback.size() == cell.size().
void LoadUserCell(std::span<char> cell, const char* key, const std::string& fallback);

}  // namespace format

#endif  // TELVORAN_FORMAT_USER_CELLS_H_
