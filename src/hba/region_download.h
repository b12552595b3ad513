// Writing an image into a controller region and reading it back to compare:
// the download request and the post validation shared by dl's firmware and
// BIOS sides. Messages are reported here; callers add their own verdict.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shell/byte_buffer.h"
#include "targets/adapter_record.h"

// Download types.
inline constexpr uint8_t kDownloadFirmware = 1;
inline constexpr uint8_t kDownloadBios = 2;

// Sends the whole image in one request (offset 0, last-chunk flag). 0; 1 when
// the library fails or the controller flags an IOC status (both reported).
uint32_t downloadImage(AdapterRecord* adapter, uint8_t downloadType, const uint8_t* image,
                       size_t size);

// Reads a whole region: the size query, then 32768-byte chunks. 0; 1 when
// the query fails, the region is blank or a chunk is refused.
uint32_t readWholeRegion(AdapterRecord* adapter, uint8_t region, ByteBuffer* image);

// Reads the region back and compares it with the image over the image's
// length (a shorter region is a mismatch). 0 same; 1 when the region cannot
// be read or differs (the difference is reported).
uint32_t postValidate(AdapterRecord* adapter, const uint8_t* image, size_t size, uint8_t region);
