#include "datafiles/file_messages.h"

#include <gtest/gtest.h>

namespace datafiles {
namespace {

TEST(FileMessagesTest, TextsPerLanguage) {
  struct Case {
    const char* language;
    const char* open_failure;
    const char* lock_wait;
  } cases[] = {
      {"CAT", "NO ES POT ACCEDIR AL FITXER ", "FITXER BLOQUEJAT. ESPEREU UN MOMENT."},
      {"SPA", "NO SE PUEDE ACCEDER AL FICHERO ", "FICHERO BLOQUEADO. ESPERE UN MOMENTO."},
      {"GLG", "NOM SE PODE ACEDER AO FICHEIRO ", "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO."},
      {"OCI", "NON SE P\xE3T ACCEDIR ATH FICH\xD4R ", "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT."},
      {"spa", "NO ES POT ACCEDIR AL FITXER ", "FITXER BLOQUEJAT. ESPEREU UN MOMENT."},
      {"", "NO ES POT ACCEDIR AL FITXER ", "FITXER BLOQUEJAT. ESPEREU UN MOMENT."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OpenFailureText(c.language), c.open_failure) << c.language;
    EXPECT_EQ(LockWaitText(c.language), c.lock_wait) << c.language;
  }
}

TEST(FileMessagesTest, OpenFailureMessageCarriesLogicalNameAndStatus) {
  EXPECT_EQ(OpenFailureMessage("CAT", "DADES\\TDespesa", 20),
            "NO ES POT ACCEDIR AL FITXER DADES\\TDespesa (20)");
  EXPECT_EQ(OpenFailureMessage("SPA", "X", 1003), "NO SE PUEDE ACCEDER AL FICHERO X (1003)");
}

}  // namespace
}  // namespace datafiles
