#include "driver/program.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/locale.h"
#include "config/settings.h"
#include "console/form_set.h"
#include "console/keys.h"
#include "console/screen.h"
#include "datafiles/file_messages.h"
#include "datafiles/record_file.h"
#include "driver/form_file.h"
#include "driver/interactive.h"
#include "driver/module_hooks.h"
#include "driver/module_state.h"
#include "driver/report.h"
#include "driver/report_files.h"
#include "platform/console.h"
#include "platform/cp850.h"
#include "platform/env.h"
#include "recmgr/record_manager.h"

namespace driver {

std::string FormFilePath(const config::Settings& settings) {
  return settings.root_dir + "FORMS\\" + config::kModuleName + ".ZPN";
}

std::string SettingsFilePath(const config::Settings& settings) {
  return settings.root_dir + "Nuva.ini";
}

bool StartUp(ReportContext& ctx, std::string* message) {
  platform::Env& env = platform::CurrentEnv();
  // 1. The cursor stays hidden except while a field is edited.
  platform::CurrentConsole().SetCursorShape(0);
  // 2. The settings, then the administrator identity from the root they
  // name (completed, so a ZELROOT without its final separator still finds
  // Nuva.ini).
  config::LoadConfiguration();
  ctx.settings = config::ModuleSettings();
  const config::Settings& settings = ctx.settings;
  ctx.identity = ReadAdministratorIdentity(SettingsFilePath(settings));
  // 3. The root becomes the current directory.
  if (!settings.root_dir.empty()) env.SetCurrentDirectory(settings.root_dir);
  // 4. The module's forms, every label through the locale. Without both
  // forms and every field the module reads, a run would use defaults and
  // print what nobody asked for: nothing starts.
  const std::string form_file = FormFilePath(settings);
  const std::string forms_problem = LoadModuleForms(
      form_file, [](const std::string& t) { return config::Translate(t); }, &console::Forms());
  if (!forms_problem.empty()) {
    // The texts are the console's code page; the file's name stays as the
    // host spells it.
    const std::string name = platform::HostPath(form_file);
    const size_t at = forms_problem.find(name);
    if (message == nullptr) return false;
    *message = at == std::string::npos
                   ? platform::Cp850ToUtf8(forms_problem)
                   : platform::Cp850ToUtf8(forms_problem.substr(0, at)) + name +
                         platform::Cp850ToUtf8(forms_problem.substr(at + name.size()));
    return false;
  }
  // 5. Initial values of the parameter form.
  PresetParameterForm(settings.working_date);
  // 6. The seven data files; after an open failure the program's
  // end_program (datafiles::DataFileUi) decides what follows.
  OpenReportFiles(ctx.buffers);
  // 7. Fee settings.
  ctx.fees = ReadFeeSettings(SettingsFilePath(settings));
  return true;
}

namespace {

// The print program gets the terminal while it runs; the screen is redrawn
// when it ends.
class ConsoleHandOverEnv : public platform::EnvWrapper {
 public:
  using platform::EnvWrapper::EnvWrapper;
  int RunProgram(const std::string& program, const std::vector<std::string>& args) override {
    platform::Console& console = platform::CurrentConsole();
    console.Suspend();
    int code = platform::EnvWrapper::RunProgram(program, args);
    console.Resume();
    return code;
  }
};

void ClearScreen() {
  console::ScrollArea(0, 0, console::ScreenRows() - 1, console::ScreenCols() - 1,
                      console::ScreenRows());
}

// The progress line on the screen's last row, a pop-up for the length of one
// print run: the row is saved when the run starts and painted back when it
// ends, so the form comes back on the screen it left.
class ProgressRow {
 public:
  ProgressRow() {
    console::WinPush(console::ScreenRows(), 1, console::ScreenRows(), console::ScreenCols());
  }
  ~ProgressRow() { console::WinPop(); }
  ProgressRow(const ProgressRow&) = delete;
  ProgressRow& operator=(const ProgressRow&) = delete;

  void Show(int index, int total) {
    std::string text = ProgressText(index, total);
    const int width = console::ScreenCols();
    if (static_cast<int>(text.size()) > width) text.resize(static_cast<size_t>(width));
    console::SetColour("+rh");
    // Inside the pushed row, positions count from its top-left cell.
    const console::WindowRect row = console::CurrentWindow();
    console::Locate(console::ScreenRows() - row.top, 1 - row.left);
    console::Print(text + std::string(static_cast<size_t>(width) - text.size(), ' '));
    console::SetColour("-");
    platform::CurrentConsole().Flush();
  }
};

}  // namespace

int RunSettlementReport(ReportContext& ctx) {
  // The screen is cleared once; after a print run the form is shown again on
  // the screen as it was.
  console::SetColour("n");
  ClearScreen();
  for (;;) {
    // Nothing is read while the user fills in the form.
    recmgr::EndReadTransactions();
    // The form's acceptance fills parameters.
    ReportParameters parameters;
    int16_t key = RunParameterForm(&parameters);
    // Key 0: no form engine, or a form without editable fields, which comes
    // back at once; printing again and again would leave the user no way out.
    if (key == console::kKeyEsc || key == 0) return 0;
    std::string message;
    PrintRunResult r;
    {
      // The run sees each data file as it was at one moment (see
      // recmgr::HoldReadSnapshots), released before the form is shown again.
      recmgr::HoldReadSnapshots();
      const int total = CountCommunities(ctx, parameters);
      ProgressRow progress_row;
      ReportProgress progress = [total, &progress_row](int index, const std::string&) {
        progress_row.Show(index, total);
      };
      ConsoleHandOverEnv env(&platform::CurrentEnv());
      platform::ScopedEnvOverride use(&env);
      r = RunPrintRun(ctx, parameters, true, progress, &message);
      recmgr::ReleaseReadSnapshots();
    }
    if (r == PrintRunResult::kOk) continue;
    ShowMessageAndWait(message);
    // A print program that ran and failed has said why, a data file that
    // could not be read may be readable again (a lock released), and another
    // print run in the temporary folder ends: the user may try again. A
    // print file or print program that cannot be used ends the run.
    if (r != PrintRunResult::kPrintProgramFailed && r != PrintRunResult::kDataReadFailed &&
        r != PrintRunResult::kPrintFileInUse) {
      // Written on the terminal's own screen, where it stays after the end.
      platform::CurrentConsole().Suspend();
      std::fprintf(stderr, "TELVORAN: %s\n", platform::Cp850ToUtf8(message).c_str());
      return 1;
    }
  }
}

int ProgramMain() {
  // Everything the module's print runs read and write, for the whole run
  // of the module.
  ReportContext ctx;
  // The open failure and lock wait messages need the kit from the first
  // file opened.
  InstallConsoleKit(ctx.buffers);
  // Where the module ends: after a data file that cannot be opened (its
  // message shown and a key pressed) with status 0; on a window stack file
  // it cannot use, with the terminal handed back, the message and status 1.
  datafiles::DataFileUi ui = datafiles::CurrentDataFileUi();
  ui.end_program = [] { std::exit(0); };
  datafiles::SetDataFileUi(ui);
  console::SetStackFileFailureHandler([](const std::string& failure) {
    platform::CurrentConsole().Suspend();
    std::fprintf(stderr, "TELVORAN: %s\n", failure.c_str());
    std::exit(EXIT_FAILURE);
  });
  std::string message;
  if (!StartUp(ctx, &message)) {
    // Written on the terminal's own screen, where it stays after the end.
    platform::CurrentConsole().Suspend();
    std::fprintf(stderr, "TELVORAN: %s\n", message.c_str());
    return 1;
  }
  int code = RunSettlementReport(ctx);
  platform::Status status = 0;
  datafiles::RecordFilesReset(status);
  return code;
}

}  // namespace driver
