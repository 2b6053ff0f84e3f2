// Leak checking under the address sanitizer: fontconfig keeps the
// configuration it loads on first use (parsed from its XML files) for the
// whole process and never frees it. The sanitizer's fast unwinder stops
// inside the library (built without frame pointers), so the suppression names
// the library rather than the function; allocations made by the print
// program's own code are still reported.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

// The list of suppressions used is not printed at exit: its lines would come
// after the outcome line, which the module shows as the run's last word.
extern "C" const char* __lsan_default_options() {
  return "print_suppressions=0";
}
