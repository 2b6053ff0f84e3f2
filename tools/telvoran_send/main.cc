// telvoran-send: sends by e-mail the statements of a folder the print
// program wrote one PDF per statement into (device DIR:), each to its
// owners, as mail::SendStatements does for the module.
//
//   telvoran-send [--check] [--resend] FOLDER
//
// Exit status: 0 every message with an address accepted (or, with --check,
// everything read), 1 a failure, 2 a usage error. Every text comes through
// the locale file.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/locale.h"
#include "mail/send.h"
#include "platform/cp850.h"
#include "platform/env.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The usage, one locale entry per line (the locale file is line based).
constexpr const char* kUsageLines[] = {
    "\xa3s: telvoran-send [--check] [--resend] CARPETA",
    "  CARPETA   la carpeta d'una impressi\xa2 DIR: (un PDF per full i el registre resum.reg)",
    "  --check   ho llegeix tot i diu qu\x8a s'enviaria, sense enviar res",
    "  --resend  torna a enviar els missatges de resultat desconegut (comen\x87"
    "ats i sense resposta del servidor)",
    "Configuraci\xa2: secci\xa2 [Correu] de Nuva.ini; adreces: el fitxer Adreces (per defecte "
    "CORREU\\Adreces.csv); contrasenya: el fitxer netrc (variable NETRC, o ~/.netrc).",
    "Entorn: ZELROOT (arrel de les dades), NETRC (fitxer de contrasenyes).",
    "Estat de sortida: 0 tot enviat; 1 error (un missatge refusat o sense resultat, el "
    "servidor, la carpeta, els fitxers); 2 error d'\xa3s (arguments).",
};

// Ctrl-C (or SIGTERM) asks the run to stop before its next message: the
// message under way gets its answer and its journal line first, so an
// interrupted run leaves no outcome unknown.
volatile std::sig_atomic_t stop_asked = 0;
void AskStop(int) { stop_asked = 1; }

void Complain(const std::string& cp850) {
  std::fprintf(stderr, "telvoran-send: %s\n", platform::Cp850ToUtf8(cp850).c_str());
}

void PrintUsage(FILE* out) {
  for (const char* line : kUsageLines) {
    std::fprintf(out, "%s\n", platform::Cp850ToUtf8(config::Translate(line)).c_str());
  }
}

int Run(int argc, char** argv) {
  // The usage and the messages are in the installation's language.
  config::LoadConfiguration();
  mail::SendOptions options;
  std::vector<std::string> folders;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--check") == 0) {
      options.check_only = true;
    } else if (std::strcmp(argv[i], "--resend") == 0) {
      options.resend = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage(stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("telvoran-send " TELVORAN_VERSION);
      return 0;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "telvoran-send: %s\n",
                   config::TranslateForTerminal("argument desconegut: @1", {argv[i]}).c_str());
      PrintUsage(stderr);
      return kExitUsage;
    } else {
      folders.emplace_back(argv[i]);
    }
  }
  if (folders.size() != 1) {
    Complain(config::Translate("cal una carpeta, i nom\x82s una"));
    PrintUsage(stderr);
    return kExitUsage;
  }
  // The folder as the host spells it: its bytes go to the host as they are.
  std::string folder = folders[0];
  if (folder.back() != '/') folder += '/';

  std::signal(SIGINT, AskStop);
  std::signal(SIGTERM, AskStop);
  platform::Env& env = platform::CurrentEnv();
  const mail::SendOutcome r = mail::SendStatements(
      env, folder, options,
      [](int done, int total) {
        std::printf("%s\n", config::TranslateForTerminal("missatge @1 de @2",
                                                         {std::to_string(done),
                                                          std::to_string(total)})
                                .c_str());
        std::fflush(stdout);
      },
      [] { return stop_asked != 0; });
  for (const std::string& line : r.messages) {
    std::printf("%s\n", platform::Cp850ToUtf8(line).c_str());
  }
  if (!r.without_address.empty()) {
    std::printf("%s\n", config::TranslateForTerminal("sense adre\x87"
                                                     "a de correu:")
                            .c_str());
    for (const std::string& line : r.without_address) {
      std::printf("  %s\n", platform::Cp850ToUtf8(line).c_str());
    }
  }
  return r.ok() ? 0 : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  return config::EndStandardOutput("telvoran-send", Run(argc, argv), kExitFailure);
}
