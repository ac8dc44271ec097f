#include "engine/core.h"

namespace lt {

void Core::Poll_Tick() {}

}  // namespace lt
