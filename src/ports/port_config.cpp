#include "engine/core.h"

namespace lt {

void Core::Switch_Click(Channel&) {}
void Core::Combo_Click(Channel&, int) {}
void Core::Apply_Settings(Channel&) {}
void Core::Port_Lost(Channel&) {}

}  // namespace lt
