#include <string>

#include "engine/core.h"

namespace lt {

// "Bit" form of a packet: a space and two capital hexadecimal digits per byte.
void Core::Decoder_Pacet(Channel& c) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    c.View.clear();
    // Lengths are counted in full: a long polled packet is shown with its true length.
    (*c.LengthColumn)[Screen_Row] = std::to_string(c.Data.size());
    c.View.reserve(c.Data.size() * 3);
    for (unsigned char v : c.Data) {
        c.View += ' ';
        c.View += kDigits[v >> 4];
        c.View += kDigits[v & 15];
    }
}

}  // namespace lt
