#include "datafiles/file_messages.h"

#include <cstdio>

#include "config/locale.h"
#include "platform/cp850.h"
#include "recmgr/record_manager.h"

namespace datafiles {
namespace {

struct Texts {
  const char* open_failure;
  const char* lock_wait;
};

// Code page 850: \xE3 is O grave, \xD4 is E grave.
const Texts& TextsFor(const std::string& language) {
  static const Texts kCatalan = {"NO ES POT ACCEDIR AL FITXER ",
                                 "FITXER BLOQUEJAT. ESPEREU UN MOMENT."};
  static const Texts kSpanish = {"NO SE PUEDE ACCEDER AL FICHERO ",
                                 "FICHERO BLOQUEADO. ESPERE UN MOMENTO."};
  static const Texts kGalician = {"NOM SE PODE ACEDER AO FICHEIRO ",
                                  "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO."};
  static const Texts kAranese = {"NON SE P\xE3T ACCEDIR ATH FICH\xD4R ",
                                 "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT."};
  if (language == "SPA") return kSpanish;
  if (language == "GLG") return kGalician;
  if (language == "OCI") return kAranese;
  return kCatalan;
}

DataFileUi WithDefaults(DataFileUi ui) {
  if (!ui.open_failure) {
    ui.open_failure = [](const std::string& message) {
      std::fprintf(stderr, "%s\n", message.c_str());
    };
  }
  if (!ui.show_message) {
    ui.show_message = [](int, const std::string& text) {
      std::fprintf(stderr, "%s\n", text.c_str());
    };
  }
  if (!ui.remove_message) ui.remove_message = [] {};
  if (!ui.end_program) ui.end_program = [] {};
  return ui;
}

DataFileUi& Ui() {
  static DataFileUi* ui = new DataFileUi(WithDefaults(DataFileUi{}));
  return *ui;
}

}  // namespace

std::string OpenFailureText(const std::string& language) {
  return TextsFor(language).open_failure;
}

std::string LockWaitText(const std::string& language) {
  return TextsFor(language).lock_wait;
}

std::string OpenFailureMessage(const std::string& language, const std::string& logical_name,
                               platform::Status status) {
  return OpenFailureText(language) + logical_name + " (" + std::to_string(status) + ")";
}

std::string ServerFailureText(platform::Status status) {
  return status == recmgr::kIoError ? ServerFailureText() : std::string();
}

std::string ServerFailureText() {
  const recmgr::ServerFailure f = recmgr::ServerFailureOfLastCall();
  switch (f.kind) {
    case recmgr::ServerFailure::kWords:
      return platform::Utf8ToCp850(f.words);
    case recmgr::ServerFailure::kNoAnswer:
      return config::TranslateWith("el servidor no ha respost en @1 s", {std::to_string(f.seconds)});
    case recmgr::ServerFailure::kStandby:
      return config::TranslateWith(
          "el servidor @1 \x82s de reserva i nom\x82s serveix lectures: no s'hi pot escriure",
          {platform::Utf8ToCp850(f.words)});
    default:
      return std::string();
  }
}

void SetDataFileUi(DataFileUi ui) {
  Ui() = WithDefaults(std::move(ui));
}

const DataFileUi& CurrentDataFileUi() {
  return Ui();
}

}  // namespace datafiles
