// Pure conversions behind expander `show`: the die temperature from the raw
// sensor sample, the management network address text of VPD page 0x85, and
// the manufacturing time stamp fields.
#pragma once

#include <cstddef>
#include <cstdint>

// Whole degrees Celsius, in unsigned 32-bit arithmetic (a sample below the
// sensor's floor wraps to a huge value).
uint32_t celsiusFromRaw(uint32_t raw);
// Whole degrees Fahrenheit from whole degrees Celsius.
uint32_t fahrenheitFromCelsius(uint32_t celsius);
// "37.0 *C / 98.0 *F"; false when the reading is outside 1..254 degrees C.
bool formatTemperature(uint32_t raw, char* out, size_t size);

inline constexpr size_t kManagementAddressOffset = 8;
inline constexpr size_t kManagementAddressLength = 15;
// The address text of the first descriptor of a 256-byte VPD page 0x85 reply,
// with leading zeros of each number removed ("010.001.002.003" -> "10.1.2.3").
// False when no address is set (all 0x00, all 0xFF, or 0.0.0.0).
bool managementAddressText(const uint8_t* reply, char* out, size_t size);

struct MfgTimeStamp {
    uint32_t year;
    uint32_t month;
    uint32_t day;
    uint32_t hour;
    uint32_t minute;
};
MfgTimeStamp decodeTimeStamp(uint32_t word);
