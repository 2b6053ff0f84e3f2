#include "console/help_view.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "config/settings.h"
#include "console/keys.h"
#include "console/screen.h"
#include "platform/console.h"
#include "platform/env.h"

namespace console {

namespace {

// The viewer over one open text help file.
class HelpViewer {
 public:
  HelpViewer(std::unique_ptr<platform::RandomAccessFile> file, int rows, int cols)
      : file_(std::move(file)),
        cols_(cols),
        page_(rows - 3 - 4 - 1),
        bottom_(rows - 3),
        width_(std::clamp(cols - 4, 0, kHelpLineWidth)) {
    const int64_t size = file_ == nullptr ? 0 : file_->Size();
    lines_ = HelpLineCount(std::max<int64_t>(size, 0), cols_);
  }

  int page() const { return page_; }
  int64_t lines() const { return lines_; }

  // Lines first..first + page - 1 on the window's rows 1..page.
  void ShowPage(int64_t first) {
    for (int row = 1; row <= page_; ++row) ShowLine(first + row - 1, row);
    next_ = first + page_;
  }

  // Acts on one key; false for Esc.
  bool Press(int16_t key, bool general_help) {
    const bool more_below = next_ <= lines_;
    const bool more_above = next_ - page_ > 1;
    switch (key) {
      case kKeyEsc:
        return false;
      case kKeyF1:
        if (!general_help) ShowHelp(kGeneralHelpTopic);
        break;
      case kKeyDown:
        if (more_below) {
          Scroll(1);
          ShowLine(next_, page_);
          ++next_;
        }
        break;
      case kKeyUp:
        if (more_above) {
          --next_;
          Scroll(-1);
          ShowLine(next_ - page_, 1);
        }
        break;
      case kKeyPgDn:
        if (more_below) {
          Scroll(page_);
          ShowPage(next_ + page_ - 1 > lines_ ? LastPage() : next_);
        }
        break;
      case kKeyPgUp:
        if (more_above) {
          // The page that ends with the line now on the first row, so that
          // line stays in sight (from line 1 when that page starts before).
          Scroll(-page_);
          ShowPage(std::max<int64_t>(1, next_ - 2 * page_ + 1));
        }
        break;
      case kKeyHome:
        if (more_above) {
          Scroll(-page_);
          ShowPage(1);
        }
        break;
      case kKeyEnd:
        if (more_below) {
          Scroll(page_);
          ShowPage(LastPage());
        }
        break;
      default:
        break;
    }
    return true;
  }

 private:
  int64_t LastPage() const { return std::max<int64_t>(1, lines_ - page_ + 1); }

  // Scrolls the inside of the frame (absolute rows 5..rows - 4, columns
  // 2..cols - 1) up by count lines, down when negative.
  void Scroll(int count) {
    SetColour("n");
    ScrollArea(4, 1, bottom_ - 2, cols_ - 2, count);
  }

  // Line n (1-based) at column 2 of the window's row; a line beyond the
  // file's end shows blank.
  void ShowLine(int64_t n, int row) {
    SetColour("n");
    bool bold = false;
    bool underline = false;
    bool reverse = false;
    Locate(row, 2);
    std::string line;
    if (file_ == nullptr || n < 1 || n > lines_ ||
        !file_->Read(static_cast<uint64_t>(n - 1) * cols_, static_cast<size_t>(cols_), &line)) {
      return;
    }
    if (line.find_first_of(std::string{kHelpBold, kHelpUnderline, kHelpReverse}) ==
        std::string::npos) {
      Print(line.substr(0, width_));
      return;
    }
    int written = 0;
    std::string run;  // characters waiting to be written in the current colour
    auto flush = [&run] {
      if (!run.empty()) Print(run);
      run.clear();
    };
    for (char c : line) {
      if (c == kHelpBold) {
        flush();
        bold = !bold;
        if (!underline) SetColour(bold ? "h" : "n");
      } else if (c == kHelpUnderline) {
        flush();
        underline = !underline;
        SetColour(underline ? "u" : "n");
      } else if (c == kHelpReverse) {
        flush();
        reverse = !reverse;
        SetColour(reverse ? "r" : "n");
      } else if (written < width_) {
        run += c;
        ++written;
      }
    }
    flush();
  }

  std::unique_ptr<platform::RandomAccessFile> file_;
  int cols_;
  int page_;
  int bottom_;  // the window's last row (absolute)
  int width_;
  int64_t lines_ = 0;
  int64_t next_ = 1;  // the line after the last one shown
};

std::string TrimTrailingBlanks(const std::string& text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? "" : text.substr(0, end + 1);
}

}  // namespace

bool IsSafeHelpTopic(const std::string& topic) {
  if (topic.empty()) return false;
  return std::all_of(topic.begin(), topic.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
  });
}

std::string HelpFilePath(const std::string& topic, const std::string& language) {
  const std::string catalan = "AJUDA\\" + topic + ".HLP";
  if (language != "SPA" && language != "GLG" && language != "OCI") return catalan;
  const std::string translated = "AJUDA\\" + topic + "." + language + ".HLP";
  return platform::CurrentEnv().FileExists(translated) ? translated : catalan;
}

int64_t HelpLineCount(int64_t file_size, int columns) {
  if (columns <= 0 || file_size <= 0) return 0;
  return (file_size + columns / 2) / columns;
}

void ShowHelp(const std::string& raw_topic) {
  const std::string topic = TrimTrailingBlanks(raw_topic);
  // The topic becomes part of a file name and of the launcher's argument:
  // only plain names are taken.
  if (!IsSafeHelpTopic(topic)) return;
  platform::Env& env = platform::CurrentEnv();

  if (config::ModuleSettings().environment_kind == "WIN") {
    // The launcher gets the page as its own argument; no command
    // interpreter sees the topic.
    platform::Console& screen = platform::CurrentConsole();
    screen.Suspend();
    env.RunProgram(kHelpLauncher, {"AJUDA\\" + topic + ".HTM"});
    screen.Resume();
    return;
  }

  const int rows = ScreenRows();
  const int cols = ScreenCols();
  if (rows - 3 - 4 - 1 < 1 || cols < 3) return;  // no room for a page
  SetColour("+h");
  WinPush(4, 1, rows - 3, cols);
  DrawFrame(2);
  SetColour("n");
  HelpViewer viewer(env.OpenRandomAccess(HelpFilePath(topic, config::ModuleSettings().language), true),
                    rows, cols);
  viewer.ShowPage(1);
  const bool general_help = topic == kGeneralHelpTopic;
  for (;;) {
    int16_t key = 0;
    WaitKey(key);
    if (!viewer.Press(key, general_help)) break;
  }
  WinPop();
  SetColour("-");
}

}  // namespace console
