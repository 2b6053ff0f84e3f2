#include "console/form_engine.h"

// Placeholder bodies until the form engine lands.
namespace console {
void SetFormHooks(FormHooks) {}
void RunForm(int16_t&, int16_t&, int16_t&, int16_t& key) { key = 27; }
void DrawForm(int16_t) {}
int16_t StoreField(int16_t, const std::string&, int16_t, int16_t) { return 0; }
int16_t& ResumeForm() { static int16_t r = 0; return r; }
}  // namespace console
