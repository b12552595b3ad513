#include "expander/show_values.h"

#include <cstdio>
#include <cstring>

uint32_t celsiusFromRaw(uint32_t raw) {
    return ((raw * 723u - 265000u) / 100u + 130u) / 10u;
}

uint32_t fahrenheitFromCelsius(uint32_t celsius) {
    return celsius * 9u / 5u + 32u;
}

bool formatTemperature(uint32_t raw, char* out, size_t size) {
    const uint32_t celsius = celsiusFromRaw(raw);
    if (celsius < 1 || celsius > 254)
        return false;
    // The conversion gives whole degrees: the digit after the point is 0.
    std::snprintf(out, size, "%d.%d *C / %d.%d *F", static_cast<int>(celsius), 0,
                  static_cast<int>(fahrenheitFromCelsius(celsius)), 0);
    return true;
}

bool managementAddressText(const uint8_t* reply, char* out, size_t size) {
    const uint8_t* text = reply + kManagementAddressOffset;
    bool allZero = true;
    bool allOnes = true;
    for (size_t i = 0; i < kManagementAddressLength; ++i) {
        allZero = allZero && text[i] == 0x00;
        allOnes = allOnes && text[i] == 0xFF;
    }
    if (allZero || allOnes || size == 0)
        return false;

    // Copy up to the first NUL, dropping zeros that lead a run of digits
    // (the last digit of a run of zeros stays).
    size_t used = 0;
    bool inNumber = false;
    for (size_t i = 0; i < kManagementAddressLength && text[i] != 0; ++i) {
        const char c = static_cast<char>(text[i]);
        if (c < '0' || c > '9') {
            inNumber = false;
        } else if (!inNumber) {
            const uint8_t next = i + 1 < kManagementAddressLength ? text[i + 1] : 0;
            if (c == '0' && next >= '0' && next <= '9')
                continue;
            inNumber = true;
        }
        // Device text: nothing outside printable ASCII reaches the console.
        if (used + 1 < size)
            out[used++] = c >= 0x20 && c <= 0x7E ? c : '.';
    }
    out[used] = '\0';
    return std::strcmp(out, "0.0.0.0") != 0 && used > 0;
}

MfgTimeStamp decodeTimeStamp(uint32_t word) {
    return MfgTimeStamp{word & 0xFF, (word >> 8) & 0xF, (word >> 12) & 0x1F, (word >> 17) & 0x1F,
                        (word >> 22) & 0x3F};
}
