// telvoran-print: the batch printer. Takes the six values of the parameter
// form on the command line, exactly as a user would type them, and runs the
// same start-up and print run as the module, without a screen. It is what an
// administrator schedules at month end.
//
//   telvoran-print DATE FROMCOMM FROMFLAT TOCOMM TOFLAT COPIES [--no-print-program]
//
// Each value goes through the check of its form field (console::StoreField
// on the form file's field, after the length the field editor allows), so
// that the batch printer refuses what the form refuses and never drifts from
// it. Exit status: 0 printed (or nothing in the range), 1 a failure, 2 a
// usage error. Every text comes through the locale file.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/locale.h"
#include "config/settings.h"
#include "console/form_engine.h"
#include "console/form_set.h"
#include "datafiles/file_messages.h"
#include "datafiles/record_file.h"
#include "driver/form_file.h"
#include "driver/interactive.h"
#include "driver/module_hooks.h"
#include "driver/module_state.h"
#include "driver/program.h"
#include "driver/report.h"
#include "driver/report_context.h"
#include "driver/statement_mail.h"
#include "platform/console.h"
#include "platform/cp850.h"
#include "platform/env.h"
#include "recmgr/record_manager.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The usage, one locale entry per line (the locale file is line based).
constexpr const char* kUsageLines[] = {
    "\xa3s: telvoran-print DATA COM1 PIS1 COM2 PIS2 C\xe3PIES [--no-print-program] [--device "
    "DISPOSITIU]",
    "  DATA       data de l'informe com s'escriu al formulari (5/3/2026, 050326; en blanc, la "
    "data de treball)",
    "  COM1 PIS1  comunitat i pis on comen\x87"
    "a l'interval; COM2 PIS2, on acaba (1 0 999 999: "
    "tots)",
    "  C\xe3PIES     c\x95pies per comunitat; 0 n'imprimeix una per propietari",
    "  Cada valor es comprova com al formulari: no pot ser m\x82s llarg que el seu camp, i un "
    "valor en blanc (\"\") val com el camp deixat en blanc (0 en un camp num\x8aric).",
    "  --no-print-program  deixa el fitxer d'impressi\xa2 a la carpeta temporal sense iniciar el "
    "programa d'impressi\xa2",
    "  --device DISPOSITIU  la sortida d'aquesta impressi\xa2 en lloc de la Sortida de "
    "NuvaTerm.ini (PDF:, TXT:, LP:, DIR:, CORREU:)",
    "Entorn: ZELROOT (arrel de les dades), ZELEXE (carpeta de programes), ZELTMP (carpeta "
    "temporal).",
    "Estat de sortida: 0 impr\x8as, o res a imprimir; 1 error (inici, fitxers de dades, fitxer "
    "d'impressi\xa2, programa d'impressi\xa2); 2 error d'\xa3s (arguments).",
};

// The names of the six values, as the usage calls them, in field order.
constexpr const char* kValueNames[] = {"DATA", "COM1", "PIS1", "COM2", "PIS2", "C\xe3PIES"};

// Stands for the value as given inside a translated message: the value goes
// in after the message became UTF-8, byte for byte as it was typed.
constexpr char kValueMark[] = "\x1f";

// A CP850 text on standard error, after the program's name.
void Complain(const std::string& cp850) {
  std::fprintf(stderr, "telvoran-print: %s\n", platform::Cp850ToUtf8(cp850).c_str());
}

void PrintUsage(FILE* out) {
  for (const char* line : kUsageLines) {
    std::fprintf(out, "%s\n", platform::Cp850ToUtf8(config::Translate(line)).c_str());
  }
}

// Why the form's field refuses a value, by the field's type.
std::string RefusalText(const console::FieldDef& f) {
  switch (f.attr[console::kFieldType]) {
    case console::kFieldTypeDate:
      return "@1: \"@2\" no \x82s una data v\x85lida";
    case console::kFieldTypeNumber:
      return "@1: \"@2\" no \x82s un nombre de @3 xifres com a m\x85xim";
    case console::kFieldTypeNumberOrP:
      return "@1: \"@2\" no \x82s un nombre de @3 xifres com a m\x85xim ni P";
    default:
      return "@1: \"@2\" no es pot escriure en un camp de @3 car\x85"
             "cters";
  }
}

// The value field `field` of the parameter form holds after the user typed
// text into it and left it, or false (with the reason on stderr) when the
// form would not take it: longer than the field or holding a character the
// field editor does not let anyone type, or refused by the field's check.
bool StoreAsTyped(int16_t field, const std::string& text, std::string* stored) {
  console::FormSet& forms = console::Forms();
  console::FieldDef& f = forms.Field(driver::kParameterForm, field);
  const size_t length = static_cast<size_t>(std::max<int16_t>(f.attr[console::kFieldLength], 0));
  const bool typable = text.size() <= length && std::none_of(text.begin(), text.end(), [](char c) {
                         return platform::IsCp850Control(static_cast<uint8_t>(c));
                       });
  // The editor's text has the field's length, the typed characters at the
  // left.
  if (typable &&
      console::StoreField(driver::kParameterForm, text + std::string(length - text.size(), ' '),
                          field, 0) == 0) {
    *stored = forms.Value(driver::kParameterForm, field);
    return true;
  }
  std::string message = platform::Cp850ToUtf8(config::TranslateWith(
      RefusalText(f),
      {config::Translate(kValueNames[field - 1]), kValueMark, std::to_string(length)}));
  const size_t at = message.find(kValueMark);
  if (at != std::string::npos) message.replace(at, 1, text);
  std::fprintf(stderr, "telvoran-print: %s\n", message.c_str());
  return false;
}

// An argument that names an option rather than a value: "-1" is a value
// (refused as copies), "-x" and "--x" are options.
bool LooksLikeOption(const char* arg) {
  return arg[0] == '-' &&
         (arg[1] == '-' || (arg[1] >= 'a' && arg[1] <= 'z') || (arg[1] >= 'A' && arg[1] <= 'Z'));
}

// Asked by Ctrl-C or SIGTERM while the statements go by e-mail.
volatile std::sig_atomic_t stop_asked = 0;
void AskStop(int) { stop_asked = 1; }

// The batch printer itself; main checks standard output after it.
int Run(int argc, char** argv) {
  // Under a file-size limit (ulimit -f) the default SIGXFSZ would kill the
  // run halfway through the print file and leave it behind. Ignored, the
  // write fails instead: the run says so and removes the partial file.
  std::signal(SIGXFSZ, SIG_IGN);
  // A run ended by a signal leaves no half print file (nor its new file).
  platform::InstallSignalCleanupHandlers();
  // The data layer's texts are code page 850 like every other; a data file
  // that cannot be opened has been reported and nothing was printed, which
  // the exit status says.
  datafiles::DataFileUi ui;
  ui.open_failure = [](const std::string& message) { Complain(message); };
  ui.show_message = [](int, const std::string& text) { Complain(text); };
  // Ending before the run, it leaves no print file of an earlier run to be
  // taken for this one (see driver::RemovePrintFileOfEarlierRun).
  ui.end_program = [] {
    driver::RemovePrintFileOfEarlierRun(config::ModuleSettings());
    std::exit(kExitFailure);
  };
  datafiles::SetDataFileUi(ui);
  // The usage and the messages are in the installation's language; without
  // an installation they stay in Catalan.
  config::LoadConfiguration();

  std::vector<std::string> args;
  bool run_print_program = true;
  std::string device;
  bool device_given = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-print-program") == 0) {
      run_print_program = false;
    } else if (std::strncmp(argv[i], "--device=", 9) == 0) {
      device = platform::Utf8ToCp850(argv[i] + 9);
      device_given = true;
    } else if (std::strcmp(argv[i], "--device") == 0) {
      if (i + 1 == argc) {
        Complain(config::Translate("falta el dispositiu despr\x82s de --device"));
        PrintUsage(stderr);
        return kExitUsage;
      }
      // As NuvaTerm.ini holds it: code page 850 bytes.
      device = platform::Utf8ToCp850(argv[++i]);
      device_given = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage(stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("telvoran-print " TELVORAN_VERSION);
      return 0;
    } else if (LooksLikeOption(argv[i])) {
      Complain(config::TranslateWith("argument desconegut: @1", {argv[i]}));
      PrintUsage(stderr);
      return kExitUsage;
    } else {
      args.emplace_back(argv[i]);
    }
  }
  if (args.size() != 6) {
    Complain(config::TranslateWith("calen sis valors i n'hi ha @1", {std::to_string(args.size())}));
    PrintUsage(stderr);
    return kExitUsage;
  }

  // The values are checked on the form file's fields before any data file
  // is opened: a refused command touches nothing. A form file that cannot
  // be used is start-up's to report.
  const config::Settings& settings = config::ModuleSettings();
  std::vector<std::string> values(6);
  if (driver::LoadModuleForms(
          driver::FormFilePath(settings), [](const std::string& t) { return config::Translate(t); },
          &console::Forms())
          .empty()) {
    for (int16_t field = driver::kFieldReportDate; field <= driver::kFieldCopies; ++field) {
      if (!StoreAsTyped(field, args[static_cast<size_t>(field - 1)],
                        &values[static_cast<size_t>(field - 1)])) {
        return kExitUsage;
      }
    }
  }

  // A reversed range is refused before any data file is opened.
  driver::ReportParameters p;
  if (!driver::ConvertParameters(values[0], values[1], values[2], values[3], values[4], values[5],
                                 &p)) {
    // The bounds as the numbers they stand for (a blank is 0), named.
    auto number = [&values](size_t i) {
      return std::to_string(static_cast<long>(driver::NumericValue(values[i])));
    };
    Complain(config::TranslateWith(
        "el l\xa1mit inferior (comunitat @1 pis @2) \x82s m\x82s alt que el superior "
        "(comunitat @3 pis @4)",
        {number(1), number(2), number(3), number(4)}));
    return kExitUsage;
  }

  // Everything the print run reads and writes besides its parameters.
  driver::ReportContext ctx;
  std::string start_message;
  if (!driver::StartUp(ctx, &start_message)) {
    std::fprintf(stderr, "telvoran-print: %s\n", start_message.c_str());
    driver::RemovePrintFileOfEarlierRun(ctx.settings);
    return kExitFailure;
  }
  // For this run only; NuvaTerm.ini is not touched.
  if (device_given) {
    ctx.settings.output_device = device;
    config::ModuleSettings().output_device = device;
  }

  // The run sees each data file as it was at one moment: another program
  // writing meanwhile does not make one statement's sections or copies
  // differ.
  recmgr::HoldReadSnapshots();
  driver::ReportProgress progress;
  if (::isatty(2)) {
    const int total = driver::CountCommunities(ctx, p);
    progress = [total](int index, const std::string&) {
      std::fprintf(stderr, "\r%s",
                   platform::Cp850ToUtf8(driver::ProgressText(index, total)).c_str());
      if (index == total) std::fputc('\n', stderr);
    };
  }
  std::string message;
  // Everything is read once the print program starts: a snapshot held while
  // it renders would hold back other programs' checkpoints.
  ctx.print_program_starting = [] {
    recmgr::ReleaseReadSnapshots();
    recmgr::EndReadTransactions();
  };
  driver::PrintRunResult r = driver::RunPrintRun(ctx, p, run_print_program, progress, &message);
  recmgr::ReleaseReadSnapshots();
  platform::Status status = 0;
  datafiles::RecordFilesReset(status);
  if (r != driver::PrintRunResult::kOk) {
    Complain(message);
    return kExitFailure;
  }
  // Printed all the same; the exit status stays 0.
  if (const std::string warning = driver::ReportDateWarning(ctx); !warning.empty()) {
    Complain(warning);
  }
  // CORREU: the folder the print program has just written goes by e-mail.
  // Ctrl-C or SIGTERM now stops between two messages: what was sent stays
  // in the folder's journal, and telvoran-send sends the rest.
  const std::string mail_folder =
      driver::MailFolderOf(ctx.settings.output_device, ctx.settings.temp_dir);
  if (run_print_program && !mail_folder.empty()) {
    std::signal(SIGINT, AskStop);
    std::signal(SIGTERM, AskStop);
    std::string said;
    const bool sent = driver::SendPrintedStatements(
        platform::CurrentEnv(), mail_folder, "",
        [](int done, int total) {
          if (!::isatty(2)) return;
          std::fprintf(stderr, "\r%s",
                       config::TranslateForTerminal("CORREU: MISSATGE @1 DE @2",
                                                    {std::to_string(done), std::to_string(total)})
                           .c_str());
          if (done == total) std::fputc('\n', stderr);
        },
        [] { return stop_asked != 0; }, &said);
    if (!sent) {
      Complain(said);
      return kExitFailure;
    }
    std::printf("%s\n", platform::Cp850ToUtf8(said).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The usage or the version must have reached standard output (not lost
  // on /dev/full, a full disk); the print program checks its own lines.
  return config::EndStandardOutput("telvoran-print", Run(argc, argv), kExitFailure);
}
