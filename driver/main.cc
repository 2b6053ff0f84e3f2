// TELVORAN: the settlement-statement module. No arguments; everything comes
// from the environment, the configuration files and the parameter form.
#include "driver/program.h"

int main() {
  return driver::ProgramMain();
}
