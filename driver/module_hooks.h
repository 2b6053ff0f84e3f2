// The module's hooks for the console kit: the acceptance check of the
// parameter form (which also asks for confirmation in form 2), the transfer
// of a browse choice into a form field, and the start key and line text of
// the three browse lists. The form engine and the browse list call them
// (InstallConsoleKit, driver/interactive.h, installs them). The driver links
// the console kit; the two steps of the form engine these hooks use
// (running a form, storing a field) still come through SetFormEngine, so
// that a test can stand in for the user, and a program that installs no
// engine (the batch printer) runs no form.
#ifndef TELVORAN_DRIVER_MODULE_HOOKS_H_
#define TELVORAN_DRIVER_MODULE_HOOKS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "driver/module_state.h"
#include "driver/report_files.h"

namespace driver {

// Form numbers and the parameter form's fields, in the order the form file
// defines them.
inline constexpr int16_t kParameterForm = 1;
inline constexpr int16_t kConfirmForm = 2;
enum ParameterField : int16_t {
  kFieldReportDate = 1,
  kFieldFromCommunity = 2,
  kFieldFromFlat = 3,
  kFieldToCommunity = 4,
  kFieldToFlat = 5,
  kFieldCopies = 6,
};

struct FormEngine {
  // Runs a form as a top-level form (both leave flags 0); returns the key
  // that ended it.
  std::function<int16_t(int16_t form)> run_form;
  // Validates and stores a value into a field; 0 when accepted.
  std::function<int16_t(int16_t form, const std::string& value, int16_t field, int16_t key)>
      store_field;
};
void SetFormEngine(FormEngine engine);

// Runs the parameter form through the installed engine and returns the key
// that ended it; 0 when no engine is installed. While it runs, the
// acceptance check writes the values it converts into *parameters, which
// the caller owns: when the form was accepted they are the form's values.
int16_t RunParameterForm(ReportParameters* parameters);

// Sets the initial values of the parameter form: the working date in edit
// form, "1", "0", "999", "999", "1".
void PresetParameterForm(const std::string& working_date);

// Converts the six values of the parameter form into report parameters, as
// the acceptance check does. Returns false when the lower bound lies above
// the upper one.
bool ConvertParameters(const std::string& date, const std::string& from_community,
                       const std::string& from_flat, const std::string& to_community,
                       const std::string& to_flat, const std::string& copies,
                       ReportParameters* parameters);

// The acceptance check: 0 leaves the form, -1 stays in it. Esc and forms
// other than the parameter form leave at once; otherwise the six values are
// converted into *parameters (ConvertParameters), a lower bound above the
// upper one stays, and the confirmation form decides: "S" leaves.
int16_t AcceptParameterForm(int16_t form, int16_t key, ReportParameters* parameters);
// The same as the form engine's completion hook: into the parameters of the
// RunParameterForm that is running (outside one the values are checked and
// dropped).
int16_t AcceptParameterForm(int16_t form, int16_t key);

// The browse hooks read the community and owner records from buffers (the
// record buffers the browse list's reads fill).
int16_t TransferBrowseChoice(int16_t list, int16_t form, int16_t field, ReportBuffers& buffers);
int16_t BrowseStartKey(int16_t list, std::string* key, std::string* key_again);
std::string BrowseLine(int16_t list, ReportBuffers& buffers);

}  // namespace driver

#endif  // TELVORAN_DRIVER_MODULE_HOOKS_H_
