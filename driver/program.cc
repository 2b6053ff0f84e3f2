#include "driver/program.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/ini.h"
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
#include "driver/statement_mail.h"
#include "platform/blanks.h"
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
  // The data files' store: a database server when the installation's
  // Nuva.ini names one (every workstation reads the same file), otherwise
  // the files under the root as they are. A print run only reads, so it
  // goes where the installation sends its readers (a standby), when it
  // names such a place.
  platform::Env& settings_env = platform::CurrentEnv();
  std::string server =
      config::IniReadBytes(settings_env, SettingsFilePath(settings), "Dades", "ServidorLectura");
  if (platform::TrimBlanks(server).empty()) {
    server = config::IniReadBytes(settings_env, SettingsFilePath(settings), "Dades", "Servidor");
  }
  recmgr::UseServer(server, settings.root_dir);
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

// Esc during a print run: the keys typed are looked at every fifth of a
// second at most (a terminal's poll waits a little when nothing is there),
// and an Esc asks whether to stop. Other keys typed meanwhile are dropped:
// the form is not there to take them. While the question is up the print
// program, when one runs, is held (hold), so that it does not go on behind
// it (hand hundreds of pages to the printer meanwhile). Once the user said
// yes it stays true: the run ends wherever it is (a wait for the database
// server too) and is then known as stopped, not failed.
class StopOnEsc {
 public:
  bool operator()(const platform::Env::HoldProgram& hold) {
    if (confirmed_) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_look_) return false;
    next_look_ = now + std::chrono::milliseconds(200);
    platform::Console& console = platform::CurrentConsole();
    bool esc = false;
    for (;;) {
      const platform::ConsoleEvent e = console.PollEvent();
      if (e.kind == platform::ConsoleEvent::Kind::kNone) break;
      if (e.kind == platform::ConsoleEvent::Kind::kKeyPress && e.ch == 27 && e.modifiers == 0) {
        esc = true;
      }
    }
    if (!esc) return false;
    if (hold) hold();
    confirmed_ = ConfirmStopOfPrintRun();
    return confirmed_;
  }

 private:
  bool confirmed_ = false;
  std::chrono::steady_clock::time_point next_look_{};  // the first look at once
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

  void Show(int index, int total) { Paint(ProgressText(index, total)); }

  // While the print program works.
  void ShowPrintProgram() { Paint(config::Translate("EL PROGRAMA D'IMPRESSI\xe0 TREBALLA")); }

  // While the statements of a CORREU: run go by e-mail.
  void ShowSending(int done, int total) {
    Paint(config::TranslateWith("CORREU: MISSATGE @1 DE @2",
                                {std::to_string(done), std::to_string(total)}));
  }

 private:
  // The text at the left, how to stop at the right.
  void Paint(std::string text) {
    const std::string stop = config::Translate("ESC: ATURAR");
    const int width = console::ScreenCols();
    const size_t room = static_cast<size_t>(width) > stop.size() + 1
                            ? static_cast<size_t>(width) - stop.size() - 1
                            : 0;
    if (text.size() > room) text.resize(room);
    text += std::string(room - text.size(), ' ') + " " + stop;
    text.resize(static_cast<size_t>(width), ' ');
    console::SetColour("+rh");
    // Inside the pushed row, positions count from its top-left cell.
    const console::WindowRect row = console::CurrentWindow();
    console::Locate(console::ScreenRows() - row.top, 1 - row.left);
    console::Print(text);
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
    bool mail_failed = false;
    {
      // The run sees each data file as it was at one moment (see
      // recmgr::HoldReadSnapshots), released before the form is shown again.
      recmgr::HoldReadSnapshots();
      // Esc is seen while a read waits for the database server too.
      StopOnEsc stop;
      recmgr::SetServerWaitHook([&stop] { return stop({}); });
      const int total = CountCommunities(ctx, parameters);
      ProgressRow progress_row;
      ReportProgress progress = [total, &progress_row](int index, const std::string&) {
        progress_row.Show(index, total);
      };
      ctx.stop_requested = [&stop](const platform::Env::HoldProgram& hold) { return stop(hold); };
      ctx.print_program_starting = [&progress_row] {
        // Everything is read: the print program may take long, and a held
        // snapshot would hold back other programs' checkpoints meanwhile.
        recmgr::ReleaseReadSnapshots();
        recmgr::EndReadTransactions();
        progress_row.ShowPrintProgram();
      };
      ctx.capture_print_program = true;
      r = RunPrintRun(ctx, parameters, true, progress, &message);
      // Printed, but for a report date before some community's period: said
      // first, the print program's line after it.
      if (const std::string warning = ReportDateWarning(ctx);
          r == PrintRunResult::kOk && !warning.empty()) {
        message = message.empty() ? warning : warning + " " + message;
      }
      // CORREU: the folder the print program has just written goes by
      // e-mail; Esc stops between two messages (what was sent stays in the
      // folder's journal).
      if (const std::string folder =
              MailFolderOf(ctx.settings.output_device, ctx.settings.temp_dir);
          r == PrintRunResult::kOk && !folder.empty()) {
        recmgr::SetServerWaitHook(nullptr);
        const bool sent = SendPrintedStatements(
            platform::CurrentEnv(), folder, message,
            [&progress_row](int done, int total) { progress_row.ShowSending(done, total); },
            [&stop] { return stop({}); }, &message);
        mail_failed = !sent;
      }
      ctx.stop_requested = nullptr;
      recmgr::SetServerWaitHook(nullptr);
      ctx.print_program_starting = nullptr;
      recmgr::ReleaseReadSnapshots();
    }
    // Stopped by the user: the form comes back with its values, nothing to
    // say unless pages had reached the printer before. Otherwise what the
    // print program said (how many pages went where), or why nothing was
    // printed; the user may fix the cause (the printer, a lock) and try
    // again from the form.
    if (message.empty()) continue;
    ShowMessageAndWait(message, r != PrintRunResult::kOk || mail_failed);
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
  // message shown and a key pressed) with status 0, leaving no print file
  // of an earlier run to be taken for one of today (see
  // RemovePrintFileOfEarlierRun); on a window stack file it cannot use,
  // with the terminal handed back, the message and status 1.
  datafiles::DataFileUi ui = datafiles::CurrentDataFileUi();
  ui.end_program = [] {
    RemovePrintFileOfEarlierRun(config::ModuleSettings());
    std::exit(0);
  };
  datafiles::SetDataFileUi(ui);
  console::SetStackFileFailureHandler([](const std::string& failure) {
    platform::CurrentConsole().Suspend();
    std::fprintf(stderr, "TELVORAN: %s\n", platform::Cp850ToUtf8(failure).c_str());
    std::exit(EXIT_FAILURE);
  });
  std::string message;
  if (!StartUp(ctx, &message)) {
    // Written on the terminal's own screen, where it stays after the end.
    platform::CurrentConsole().Suspend();
    std::fprintf(stderr, "TELVORAN: %s\n", message.c_str());
    RemovePrintFileOfEarlierRun(ctx.settings);
    return 1;
  }
  int code = RunSettlementReport(ctx);
  platform::Status status = 0;
  datafiles::RecordFilesReset(status);
  return code;
}

}  // namespace driver
