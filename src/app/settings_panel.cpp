#include "engine/core.h"

namespace lt {

void Core::mnu_Prop_Click() {}
void Core::Command4_Click() {}
void Core::Command5_Click() {}
void Core::Command6_Click() {}
void Core::Dir_Change(const std::string&) {}

}  // namespace lt
