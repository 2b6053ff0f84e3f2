#include "driver/program.h"

#include <cstdio>

#include "config/configuration.h"
#include "config/locale.h"
#include "config/settings.h"
#include "console/form_set.h"
#include "datafiles/record_file.h"
#include "driver/form_file.h"
#include "driver/module_hooks.h"
#include "driver/module_state.h"
#include "driver/report.h"
#include "driver/report_files.h"
#include "platform/env.h"

namespace driver {

std::string FormFilePath() {
  return config::ModuleSettings().root_dir + "FORMS\\" + kModuleName + ".ZPN";
}

std::string SettingsFilePath() {
  return config::ModuleSettings().root_dir + "Nuva.ini";
}

void StartUp() {
  platform::Env& env = platform::CurrentEnv();
  // 1. The cursor is hidden by the console kit when it takes the screen.
  // 2. The administrator identity, then the settings.
  Administrator() = ReadAdministratorIdentity(env.GetVar("ZELROOT") + "Nuva.ini");
  config::LoadConfiguration();
  const config::Settings& settings = config::ModuleSettings();
  // 3. The root becomes the current directory.
  if (!settings.root_dir.empty()) env.SetCurrentDirectory(settings.root_dir);
  // 4-6. The module's forms, every label through the locale.
  LoadFormFile(
      FormFilePath(), [](const std::string& t) { return config::Translate(t); }, &console::Forms());
  // 7. Initial values of the parameter form.
  PresetParameterForm(settings.working_date);
  // 9. The seven data files; an open failure does not come back.
  OpenReportFiles();
  // 10. Fee settings.
  Fees() = ReadFeeSettings(SettingsFilePath());
}

int RunSettlementReport() {
  for (;;) {
    int16_t key = RunParameterForm();
    if (key == kEscKey || key == 0) return 0;
    std::string message;
    PrintRunResult r = RunPrintRun(Parameters(), true, nullptr, &message);
    if (r == PrintRunResult::kPrintProgramFailed) {
      // The print program has said why; the user may try again.
      std::fprintf(stderr, "TELVORAN: %s\n", message.c_str());
    } else if (r != PrintRunResult::kOk) {
      std::fprintf(stderr, "TELVORAN: %s\n", message.c_str());
      return 1;
    }
  }
}

int ProgramMain() {
  StartUp();
  int code = RunSettlementReport();
  platform::Status status = 0;
  datafiles::RecordFilesReset(status);
  return code;
}

}  // namespace driver
