// Speed of the console kit where the user feels it: keys typed into a
// 60-character field through EditField (overwrite mode writes one cell per
// key, insert mode redraws the field on every key), and drawing the module's
// parameter form (form 1 of sample/FORMS/TELVORAN.ZPN) with DrawForm. All on
// the memory console, so the figures are the kit's own cost, not a
// terminal's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/settings.h"
#include "console/field_editor.h"
#include "console/form_engine.h"
#include "console/form_set.h"
#include "console/keys.h"
#include "console/screen.h"
#include "driver/form_file.h"
#include "platform/console.h"

namespace {

constexpr int kFieldLength = 60;

// The colour table and an empty exit-key map, as at start-up.
void ResetKit() {
  config::ModuleSettings().colours = config::ParseColourTable(config::kDefaultColours);
  console::ResetScreenState();
  console::ResetKeyState();
  console::SetChoices("");
}

// One iteration types the 60 characters of the field, then Enter: 61 keys.
void BM_EditFieldTyping(benchmark::State& state) {
  const bool insert = state.range(0) != 0;
  platform::MemoryConsole con(25, 80);
  platform::ScopedConsoleOverride use(&con);
  ResetKit();
  platform::SetInsertToggle(insert);
  std::string keys;
  for (int i = 0; i < kFieldLength; ++i) keys += static_cast<char>('A' + i % 26);
  for (auto _ : state) {
    con.PushText(keys);
    con.PushChar('\r');
    int16_t row = 5, col = 10, width = 0, pos = 1, key = 0;
    std::string text(kFieldLength, ' ');
    console::EditField(row, col, width, text, pos, key);
    benchmark::DoNotOptimize(text);
  }
  platform::SetInsertToggle(false);
  const int64_t keys_per_iteration = kFieldLength + 1;
  state.SetItemsProcessed(state.iterations() * keys_per_iteration);
  state.counters["keys/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * keys_per_iteration), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EditFieldTyping)->ArgName("insert")->Arg(0)->Arg(1);

// The sample form file beside this source tree.
std::string SampleFormFile() {
  std::string here = __FILE__;
  return here.substr(0, here.rfind('/')) + "/../sample/FORMS/TELVORAN.ZPN";
}

// DrawForm(1) inside the form's own window, as RunForm shows it.
void BM_DrawParameterForm(benchmark::State& state) {
  platform::MemoryConsole con(25, 80);
  platform::ScopedConsoleOverride use(&con);
  ResetKit();
  char dir[] = "/tmp/telvoran-console-bench-XXXXXX";
  if (::mkdtemp(dir) == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  config::ModuleSettings().temp_dir = std::string(dir) + "/";
  config::ModuleSettings().screen_title = " ADMINISTRACIO DE FINQUES ";
  auto identity = [](const std::string& s) { return s; };
  if (!driver::LoadFormFile(SampleFormFile(), identity, &console::Forms()) ||
      console::Forms().form_count() < 1) {
    state.SkipWithError("sample form file not loaded");
    return;
  }
  const console::FormDef& form = console::Forms().forms[1];
  console::WinPush(form.top, form.left, form.bottom, form.right);
  console::DrawFrame(2);
  for (auto _ : state) {
    console::DrawForm(1);
    benchmark::ClobberMemory();
  }
  // What the form put on the screen, so a figure for an empty draw shows.
  int filled = 0;
  for (int r = 1; r <= con.Rows(); ++r) {
    for (int c = 1; c <= con.Cols(); ++c) filled += con.ReadCell(r, c).ch != ' ';
  }
  state.counters["cells_filled"] = filled;
  console::WinPop();
  console::ResetScreenState();
  ::rmdir(dir);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrawParameterForm);

}  // namespace
