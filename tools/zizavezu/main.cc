// ZIZAVEZU, the suite's print program. Started without arguments after a
// print run; renders the print file of the temporary folder on its device.
#include <iostream>

#include "tools/zizavezu/print_program.h"

int main() {
  return zizavezu::RunPrintProgram(std::cout, std::cerr);
}
