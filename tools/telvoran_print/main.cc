// telvoran-print: the batch printer. Takes the six values of the parameter
// form on the command line, exactly as a user would type them, and runs the
// same start-up and print run as the module, without a screen. It is what an
// administrator schedules at month end.
//
//   telvoran-print DATE FROMCOMM FROMFLAT TOCOMM TOFLAT COPIES [--no-print-program]
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "console/form_set.h"
#include "datafiles/file_messages.h"
#include "datafiles/record_file.h"
#include "driver/module_hooks.h"
#include "driver/module_state.h"
#include "driver/program.h"
#include "driver/report.h"
#include "driver/report_context.h"
#include "format/dates.h"
#include "platform/console.h"
#include "platform/cp850.h"
#include "recmgr/record_manager.h"

namespace {

constexpr char kUsage[] =
    "usage: telvoran-print DATE FROMCOMM FROMFLAT TOCOMM TOFLAT COPIES [--no-print-program]\n"
    "  DATE      report date as typed in the form (5/3/2026, 050326, blank for the working date)\n"
    "  FROMCOMM FROMFLAT, TOCOMM TOFLAT  the range of communities and flats (1 0 999 999: all)\n"
    "  COPIES    copies of each statement; 0 prints one per owner\n"
    "Environment: ZELROOT (data root), ZELEXE (program folder), ZELTMP (temporary folder).\n";

// The value a field of the parameter form would hold: the typed text placed
// at the left, padded and cut to the field's length, when the form file
// defines the field.
std::string AsTyped(int16_t field, const std::string& text) {
  console::FormSet& forms = console::Forms();
  if (!forms.HasField(driver::kParameterForm, field)) return text;
  forms.SetValue(driver::kParameterForm, field, text);
  return forms.Value(driver::kParameterForm, field);
}

}  // namespace

int main(int argc, char** argv) {
  // Under a file-size limit (ulimit -f) the default SIGXFSZ would kill the
  // run halfway through the print file and leave it behind. Ignored, the
  // write fails instead: the run says so and removes the partial file.
  std::signal(SIGXFSZ, SIG_IGN);
  // A run ended by a signal leaves no half print file (nor its new file).
  platform::InstallSignalCleanupHandlers();
  // A data file that cannot be opened has been reported (on stderr): the
  // batch printer has printed nothing, and says so in its exit status.
  datafiles::DataFileUi ui;
  ui.end_program = [] { std::exit(1); };
  datafiles::SetDataFileUi(ui);
  std::vector<std::string> args;
  bool run_print_program = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-print-program") == 0) {
      run_print_program = false;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("telvoran-print " TELVORAN_VERSION);
      return 0;
    } else {
      args.emplace_back(argv[i]);
    }
  }
  if (args.size() != 6) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  // Everything the print run reads and writes besides its parameters.
  driver::ReportContext ctx;
  std::string start_message;
  if (!driver::StartUp(ctx, &start_message)) {
    std::fprintf(stderr, "telvoran-print: %s\n", start_message.c_str());
    return 1;
  }

  std::string date = AsTyped(driver::kFieldReportDate, args[0]);
  // A blank date field takes the working date, as the form does.
  if (date.find_first_not_of(' ') == std::string::npos) {
    date = format::DateToEditText(ctx.settings.working_date);
  }
  if (format::IsBadDateText(date)) {
    std::fprintf(stderr, "telvoran-print: not a valid date: %s\n", args[0].c_str());
    return 2;
  }
  driver::ReportParameters p;
  if (!driver::ConvertParameters(
          date, AsTyped(driver::kFieldFromCommunity, args[1]),
          AsTyped(driver::kFieldFromFlat, args[2]), AsTyped(driver::kFieldToCommunity, args[3]),
          AsTyped(driver::kFieldToFlat, args[4]), AsTyped(driver::kFieldCopies, args[5]), &p)) {
    std::fprintf(stderr, "telvoran-print: the lower bound %s.%s lies above the upper bound %s.%s\n",
                 args[1].c_str(), args[2].c_str(), args[3].c_str(), args[4].c_str());
    return 2;
  }

  // The run sees each data file as it was at one moment: another program
  // writing meanwhile does not make one statement's sections or copies
  // differ.
  recmgr::HoldReadSnapshots();
  driver::ReportProgress progress;
  int total = 0;
  if (::isatty(2)) {
    total = driver::CountCommunities(ctx, p);
    progress = [total](int index, const std::string&) {
      std::fprintf(stderr, "\rcommunity %d of %d", index, total);
      if (index == total) std::fputc('\n', stderr);
    };
  }
  std::string message;
  driver::PrintRunResult r = driver::RunPrintRun(ctx, p, run_print_program, progress, &message);
  recmgr::ReleaseReadSnapshots();
  platform::Status status = 0;
  datafiles::RecordFilesReset(status);
  if (r != driver::PrintRunResult::kOk) {
    // The texts are code page 850; the terminal shows Unicode.
    std::fprintf(stderr, "telvoran-print: %s\n", platform::Cp850ToUtf8(message).c_str());
    return 1;
  }
  return 0;
}
