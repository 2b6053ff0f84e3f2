// The report context: everything a print run reads and writes besides its
// parameters, in one place instead of process-wide state. The interactive
// module (ProgramMain) and the batch printer (tools/telvoran_print) each make
// one, fill it with StartUp (driver/program.h) and pass it by reference to
// the report loop and the print run. The report parameters come apart, from
// the parameter form (RunParameterForm) or the batch printer's command line.
//
// What stays process-wide is what other layers own: the console kit's forms,
// hooks and screen, config::ModuleSettings() (which the console kit and the
// locale read; settings below is StartUp's copy of it), the current Env, the
// number formats' currency, and the record file layer's slots, which keep
// pointers into buffers below.
#ifndef TELVORAN_DRIVER_REPORT_CONTEXT_H_
#define TELVORAN_DRIVER_REPORT_CONTEXT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "driver/module_state.h"
#include "driver/print_channel.h"
#include "driver/report_files.h"
#include "platform/env.h"
#include "platform/types.h"

namespace driver {

// A read that failed for another reason than "no such key" or "no more
// records" (an I/O error, a lock, a record that does not fit): the report's
// loops end on any status other than 0, so without this note such a failure
// would print a statement with records missing as if all was well.
struct ReadFailure {
  int16_t file = 0;  // 0: none
  platform::Status status = 0;
  std::string reason;  // the database server's, when it failed there
};

// A community of the run whose report date is on or before its previous
// settlement (a year typed wrong): its statements print all the same, with a
// period that ends before it starts and a fee for no or negative months, and
// the run warns about it (ReportDateWarning, driver/report.h).
struct SettledAfterReportDate {
  std::string code;  // as users read it (format::CodeToText)
  std::string name;  // in display order
};

struct ReportContext {
  ReportContext() = default;
  // The record file layer holds pointers into buffers: the context stays
  // where it was made.
  ReportContext(const ReportContext&) = delete;
  ReportContext& operator=(const ReportContext&) = delete;

  // Read by StartUp, unchanged afterwards.
  config::Settings settings;  // directories, output device, working date
  FeeSettings fees;
  AdministratorIdentity identity;

  // The seven files' records, registered with the record file layer when
  // StartUp opens the files: the files must be closed (RecordFilesReset)
  // before the context goes. Every read of a file rewrites its buffer.
  ReportBuffers buffers;

  // The print file of the current run; its page accounting carries over
  // from one run to the next until the next page directive.
  PrintChannel channel;

  // The run's statement register (platform/statement_register.h), beside
  // the print file: each copy's entry is added as it is printed. Null when
  // the run keeps none.
  std::unique_ptr<platform::WritableFile> register_file;
  size_t register_entries = 0;
  bool register_failed = false;

  // The first read of the current run that failed; cleared when a print run
  // starts.
  ReadFailure read_failure;

  // The communities of the current run settled on or after its report
  // date, in range order; cleared when its communities are printed.
  std::vector<SettledAfterReportDate> settled_after_report_date;

  // Asked now and then during a print run: before each statement and, about
  // every tenth of a second, while the print program runs. True stops the
  // run: the print file goes and nothing more is handed on. Empty: never
  // stopped. While the print program runs it is handed the hold of
  // platform::Env::RunProgramCaptured, to call before it asks the user
  // anything (the program waits meanwhile); elsewhere hold is empty.
  platform::Env::StopCheck stop_requested;
  // Called just before the print program starts (the module shows that it
  // is running).
  std::function<void()> print_program_starting;
  // True: the print program's standard output and error are captured (its
  // last line becomes the run's message) instead of going to the terminal.
  bool capture_print_program = false;
};

}  // namespace driver

#endif  // TELVORAN_DRIVER_REPORT_CONTEXT_H_
