// Version lookup in a BIOS (PCI expansion ROM) chain as uploaded from the
// boot region. Pure: the bytes come from the controller and may lie, so every
// read is bounded by the buffer and each image by its own declared length.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kRomVersionNotFound = 0xFFFFFFFF;

// Code types of the PCI data structure, and the two lookup aliases.
inline constexpr uint8_t kRomCodeX86 = 0;
inline constexpr uint8_t kRomCodeOpenFirmware = 1;
inline constexpr uint8_t kRomCodeEfi = 3;
inline constexpr uint8_t kRomCodeFirstImage = 255;  // whatever the first image is
inline constexpr uint8_t kRomCodeX86Alias = 170;

// The version of the first image of the wanted code type (x86, EFI), or of
// the last Open Firmware image; kRomVersionNotFound when the buffer is not a
// ROM chain or holds no such image. The walk stops at the last-image bit, a
// missing signature, a data structure outside its image, a zero length or an
// image running past the buffer.
uint32_t romImageVersion(const uint8_t* rom, size_t size, uint8_t codeType);

// The Open Firmware version parse of one image's bytes (the what-string text);
// kRomVersionNotFound when the image has no marker.
uint32_t openFirmwareVersion(const uint8_t* image, size_t size);
