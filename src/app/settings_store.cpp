#include "engine/core.h"

namespace lt {

void Core::Settings_Load() {}

}  // namespace lt
