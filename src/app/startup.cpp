#include "engine/core.h"

namespace lt {

void Core::Form_Load() {}
void Core::Form_Unload() {}
void Core::mnu_Exit_Click() {}

}  // namespace lt
