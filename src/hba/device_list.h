// The SAS/SATA device list of an adapter as HBA scan prints it, shared with
// the expander scan, and the helpers that make device bytes printable.
#pragma once

#include <cstddef>
#include <cstdint>

// How a command that lists devices says that none is attached.
enum class NoDevicesNote { Line, Warning };

// Rediscovers the adapter's devices and counts them: 0 with *count above 0;
// 1 after reporting why not (`rediscoverFailure` is the caller's own text for
// a failed rediscovery; "There are no devices attached." when none is).
uint32_t rediscoverAttachedDevices(const uint32_t* adapterHandle, const char* rediscoverFailure,
                                   NoDevicesNote note, uint32_t* count);

// Prints the header and one line per SAS or SATA device among the adapter's
// first `count` devices (each read again by handle from its SAS Device page
// 0; a device whose page cannot be read is skipped). 0, or 1 after the error
// "Unable to get the device info." when a device query fails.
uint32_t printSasDeviceList(const uint32_t* adapterHandle, uint32_t count);

// Copies at most `width` bytes of device text into out (width + 1 bytes),
// stopping at a NUL and showing anything unprintable as '.': a device's bytes
// never reach the terminal raw.
void printableText(const uint8_t* text, size_t width, char* out);
