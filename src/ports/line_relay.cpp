#include "engine/core.h"

namespace lt {

void Core::Service_Relay_Click(Channel&) {}
void Core::Line_Change(Channel&) {}
void Core::Service_Timer_Tick(Channel&) {}

}  // namespace lt
