#include "shell/device_text.h"

#include "shell/logger.h"

namespace {

constexpr uint8_t kFirstPrintable = 0x20;
constexpr uint8_t kLastPrintable = 0x7E;

}  // namespace

size_t deviceTextToPrintable(const uint8_t* bytes, size_t length, char* out, size_t capacity) {
    if (out == nullptr || capacity == 0)
        return 0;
    size_t used = 0;
    for (size_t i = 0; bytes != nullptr && i < length && used + 1 < capacity; ++i) {
        const uint8_t c = bytes[i];
        if (c == 0)
            continue;
        out[used++] = c >= kFirstPrintable && c <= kLastPrintable ? static_cast<char>(c) : '.';
    }
    out[used] = '\0';
    return used;
}

void printDeviceText(const uint8_t* bytes, size_t length) {
    // Printed in pieces so that any length fits the logger's message buffer.
    char piece[256];
    size_t done = 0;
    while (bytes != nullptr && done < length) {
        const size_t take = length - done < sizeof piece - 1 ? length - done : sizeof piece - 1;
        deviceTextToPrintable(bytes + done, take, piece, sizeof piece);
        logPrint("%s", piece);
        done += take;
    }
}
