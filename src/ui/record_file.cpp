#include "engine/core.h"

namespace lt {

void Core::Record_Click() {}
void Core::Record_Write(const std::string&, const std::string&) {}

}  // namespace lt
