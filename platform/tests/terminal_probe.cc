// A small program on the terminal console: a framed screen with accented
// letters, the euro sign, the control-byte glyphs, the 16 colours and one
// field; what is typed is echoed into the field. Used to count the bytes one
// key costs (bench/terminal_bytes.sh) and by the tmux test of the terminal
// back end (terminal_probe_test.sh).
//
//   terminal_probe [--log FILE] [--ready FILE] [--events] [--crash]
//
// --log appends one line per input event, written after the screen has been
// flushed for it; --ready is created once the first screen is out; --events
// shows the last event on the bottom line; --crash makes F10 write to an
// invalid address. Keys: Esc ends; Insert switches the cursor between half and
// full height; Ctrl+C copies the field to the clipboard; F9 hands the
// terminal to a shell command and takes it back; Backspace deletes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/terminal_console.h"

namespace {

constexpr int kFieldRow = 12;
constexpr int kFieldCol = 18;
constexpr int kFieldWidth = 40;
constexpr uint8_t kScreenAttr = 0x1F;  // white on blue
constexpr uint8_t kFieldAttr = 0x70;   // black on light grey

void Put(platform::Console& c, int row, int col, uint8_t attr, const std::string& text) {
  c.SetAttribute(attr);
  c.SetCursor(row, col);
  c.Write(text);
}

void DrawScreen(platform::Console& c, const std::string& field) {
  const int rows = c.Rows();
  const int cols = c.Cols();
  for (int r = 1; r <= rows; ++r) {
    std::string line(static_cast<size_t>(cols), ' ');
    if (cols >= 2) {
      const bool edge = r == 1 || r == rows;
      line.assign(static_cast<size_t>(cols), edge ? '\xCD' : ' ');   // ═
      line.front() = r == 1 ? '\xC9' : r == rows ? '\xC8' : '\xBA';  // ╔ ╚ ║
      line.back() = r == 1 ? '\xBB' : r == rows ? '\xBC' : '\xBA';   // ╗ ╝ ║
    }
    Put(c, r, 1, kScreenAttr, line);
  }
  Put(c, 1, 4, kScreenAttr, " TELVORAN terminal probe ");
  // àéíóú ÇÑ ç and the euro sign.
  Put(c, 3, 4, kScreenAttr, "Accents: \x85\x82\xA1\xA2\xA3 \x80\xA5 \x87   Euro: \xD5 100");
  std::string controls;
  for (int b = 1; b < 0x20; ++b) controls.push_back(static_cast<char>(b));
  controls.push_back('\x7F');
  Put(c, 5, 4, kScreenAttr, "Controls: ");
  Put(c, 5, 14, kScreenAttr, controls);
  Put(c, 7, 4, kScreenAttr, "Colours: ");
  for (int colour = 0; colour < 16; ++colour) {
    const uint8_t attr = static_cast<uint8_t>(colour << 4 | (colour == 15 ? 0 : 15));
    Put(c, 7, 13 + 3 * colour, attr, " " + std::string(1, "0123456789ABCDEF"[colour]) + " ");
  }
  Put(c, 9, 4, kScreenAttr, "\xDA\xC4\xC4\xC2\xC4\xC4\xBF  \xB0\xB1\xB2\xDB  single lines, shades");
  Put(c, 10, 4, kScreenAttr, "\xC0\xC4\xC4\xC1\xC4\xC4\xD9");
  Put(c, kFieldRow, 10, kScreenAttr, "Field:");
  Put(c, kFieldRow, kFieldCol, kFieldAttr, field);
  Put(c, rows - 2 > kFieldRow ? rows - 2 : rows, 4, kScreenAttr,
      "Esc ends, Insert cursor, Ctrl+C copy, F9 shell");
}

std::string Describe(const platform::ConsoleEvent& e) {
  char buf[96];
  using Kind = platform::ConsoleEvent::Kind;
  switch (e.kind) {
    case Kind::kKeyPress:
      std::snprintf(buf, sizeof buf, "key ch=%02X scan=%02X mods=%02X", e.ch, e.scan, e.modifiers);
      break;
    case Kind::kMouse:
      std::snprintf(buf, sizeof buf, "mouse row=%d col=%d button=%d", e.row, e.col,
                    e.released_button);
      break;
    case Kind::kResize:
      std::snprintf(buf, sizeof buf, "resize");
      break;
    default:
      std::snprintf(buf, sizeof buf, "other");
      break;
  }
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  const char* log_path = nullptr;
  const char* ready_path = nullptr;
  bool show_events = false;
  bool crash = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      log_path = argv[++i];
    } else if (std::strcmp(argv[i], "--ready") == 0 && i + 1 < argc) {
      ready_path = argv[++i];
    } else if (std::strcmp(argv[i], "--events") == 0) {
      show_events = true;
    } else if (std::strcmp(argv[i], "--crash") == 0) {
      crash = true;
    } else {
      std::fprintf(stderr, "usage: %s [--log FILE] [--ready FILE] [--events] [--crash]\n", argv[0]);
      return 2;
    }
  }
  platform::TerminalOpenFailure failure = platform::TerminalOpenFailure::kNone;
  std::unique_ptr<platform::Console> console = platform::OpenTerminalConsole(&failure);
  if (!console) {
    std::fprintf(stderr, "terminal_probe: no terminal console (failure %d)\n",
                 static_cast<int>(failure));
    return 1;
  }
  platform::ScopedConsoleOverride current(console.get());
  FILE* log = log_path != nullptr ? std::fopen(log_path, "a") : nullptr;
  auto note = [&](const std::string& line) {
    if (log == nullptr) return;
    std::fprintf(log, "%s\n", line.c_str());
    std::fflush(log);
  };

  platform::Console& c = *console;
  c.SetMouseReporting(true);
  std::string field(kFieldWidth, ' ');
  int pos = 0;  // 0-based cursor position in the field
  int shape = 50;
  auto place_cursor = [&] {
    c.SetCursor(kFieldRow, kFieldCol + pos);
    c.SetCursorShape(shape);
  };
  DrawScreen(c, field);
  place_cursor();
  c.Flush();
  note("start rows=" + std::to_string(c.Rows()) + " cols=" + std::to_string(c.Cols()) +
       " buttons=" + std::to_string(c.MouseButtons()));
  if (ready_path != nullptr) {
    if (FILE* f = std::fopen(ready_path, "w")) {
      std::fputs("ready\n", f);
      std::fclose(f);
    }
  }

  for (;;) {
    const platform::ConsoleEvent e = c.PollEvent();
    using Kind = platform::ConsoleEvent::Kind;
    if (e.kind == Kind::kNone) continue;
    bool done = false;
    if (e.kind == Kind::kResize) {
      DrawScreen(c, field);
    } else if (e.kind == Kind::kKeyPress) {
      const bool alt = (e.modifiers & platform::kModLeftAlt) != 0;
      if (e.ch == 27 && !alt) {
        done = true;
      } else if (e.ch == 0 && e.scan == 0x52 && !alt) {
        shape = shape == 50 ? 100 : 50;
      } else if (e.ch == 0 && e.scan == 0x44 && crash) {
        // A real segmentation fault (not a null pointer, which the
        // sanitizers would report and end without any signal).
        volatile uintptr_t nowhere = 16;
        *reinterpret_cast<volatile int*>(nowhere) = 1;
      } else if (e.ch == 0 && e.scan == 0x43) {
        c.Suspend();
        if (std::system("echo outside the probe") != 0) note("shell failed");
        c.Resume();
        note("resumed");
      } else if (e.ch == 3) {
        platform::SetClipboardText(field.substr(0, field.find_last_not_of(' ') + 1));
      } else if (e.ch == 8) {
        if (pos > 0) {
          --pos;
          field[pos] = ' ';
          Put(c, kFieldRow, kFieldCol + pos, kFieldAttr, " ");
        }
      } else if (e.ch >= 0x20 && e.ch != 0x7F && pos < kFieldWidth) {
        field[pos] = static_cast<char>(e.ch);
        Put(c, kFieldRow, kFieldCol + pos, kFieldAttr, std::string(1, static_cast<char>(e.ch)));
        if (pos < kFieldWidth - 1) ++pos;
      }
    }
    const std::string text = Describe(e);
    if (show_events && !done) {
      std::string line = text;
      line.resize(40, ' ');
      Put(c, c.Rows() - 1, 4, kScreenAttr, line);
    }
    place_cursor();
    c.Flush();
    note(text);
    if (done) break;
  }
  console.reset();
  note("end");
  if (log != nullptr) std::fclose(log);
  return 0;
}
