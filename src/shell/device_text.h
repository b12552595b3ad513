// Text that came from a device (product and platform names, serials,
// addresses) on its way to the terminal. A device can put anything in those
// fields: NUL bytes (the padding of fixed fields) are dropped and every other
// byte outside 0x20..0x7E shows as '.', as in a hex dump, so that no escape
// sequence or line break of a device ever reaches the console raw. Ordinary
// printable text is unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes the printable form of length bytes into out (capacity bytes, always
// NUL-terminated when capacity > 0, cut when it does not fit) and returns the
// number of characters written.
size_t deviceTextToPrintable(const uint8_t* bytes, size_t length, char* out, size_t capacity);

// Prints the printable form of length bytes with the logger's Print.
void printDeviceText(const uint8_t* bytes, size_t length);
