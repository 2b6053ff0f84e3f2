#include "console/field_display.h"

// Placeholder body until the field display lands.
namespace console {
void ShowFieldValue(int16_t, int16_t) {}
}  // namespace console
