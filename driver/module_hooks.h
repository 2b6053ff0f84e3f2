// The module's hooks for the console kit: the acceptance check of the
// parameter form (which also asks for confirmation in form 2), the transfer
// of a browse choice into a form field, and the start key and line text of
// the three browse lists. The form engine and the browse list call them;
// the form engine's own steps they need (running a form, storing a field)
// are handed in with SetFormEngine, so this layer does not link the engine.
#ifndef TELVORAN_DRIVER_MODULE_HOOKS_H_
#define TELVORAN_DRIVER_MODULE_HOOKS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "driver/module_state.h"

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
inline constexpr int16_t kEscKey = 27;

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
// that ended it; 0 when no engine is installed.
int16_t RunParameterForm();

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

// 0 leaves the form, -1 stays in it.
int16_t AcceptParameterForm(int16_t form, int16_t key);
int16_t TransferBrowseChoice(int16_t list, int16_t form, int16_t field);
int16_t BrowseStartKey(int16_t list, std::string* key, std::string* key_again);
std::string BrowseLine(int16_t list);

}  // namespace driver

#endif  // TELVORAN_DRIVER_MODULE_HOOKS_H_
