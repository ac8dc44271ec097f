#include "engine/core.h"

namespace lt {

void Core::Rts_Click(Channel&) {}
void Core::Dtr_Click(Channel&) {}
void Core::RTS_Storb(Channel&) {}
void Core::DCB_Read(SerialPort&, CommState&) {}
void Core::DCB_Write(SerialPort&, CommState&, std::uint32_t) {}

}  // namespace lt
