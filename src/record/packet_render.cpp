#include "record/packet_render.h"

namespace lt {

std::string renderHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char v : bytes) {
        out += ' ';
        out += kDigits[v >> 4];
        out += kDigits[v & 15];
    }
    return out;
}

}  // namespace lt
