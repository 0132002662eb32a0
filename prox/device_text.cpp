#include "prox/device_text.h"

namespace corva::prox {

std::string printableDeviceText(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string printable;
    printable.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte <= 0x7E) {
            printable.push_back(c);
            continue;
        }
        printable += "\\x";
        printable.push_back(kHex[byte >> 4]);
        printable.push_back(kHex[byte & 0x0F]);
    }
    return printable;
}

}  // namespace corva::prox
