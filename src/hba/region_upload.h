// Reading HBA flash regions back from the controller: the size query and the
// chunked upload that `show`, `ul` and `dl` share. Both report their own
// failures through the logger; callers add only their own context line.
// Sizes are bounded before anything is allocated or looped over, and a chunk
// the controller cannot fill from its region counts as a failed read.
#pragma once

#include <cstdint>

// Region codes of the firmware upload request.
inline constexpr uint8_t kRegionFirmware = 0;
inline constexpr uint8_t kRegionFlashFirmware = 1;
inline constexpr uint8_t kRegionBios = 2;
inline constexpr uint8_t kRegionDownloadedFirmware = 5;
inline constexpr uint8_t kRegionFlash = 10;

inline constexpr uint32_t kRegionUploadChunkSize = 32768;
// No expansion ROM is larger; a bigger boot region is a lying controller.
inline constexpr uint32_t kMaxBiosRegionSize = 16u << 20;
inline constexpr uint32_t kMaxRegionSize = 64u << 20;

inline constexpr uint32_t kUploadInvalidBuffer = 5;

// The largest size a region of this code may report.
uint32_t maxRegionSize(uint8_t regionCode);

// The size in bytes of the image in a region (an upload of 0 bytes at offset
// 0). 0 with *size set; 1 after reporting a library failure, a flagged IOC
// status, a reply too short to hold the size, or a size above the region's
// bound. *size is 0 on failure.
uint32_t queryImageSize(const uint32_t* adapterHandle, uint8_t regionCode, uint32_t* size);

// Clears buffer[0, size) and fills it from the region starting at `offset`,
// in chunks of kRegionUploadChunkSize (the last one shorter).
// 5: buffer null, size 0, or offset + size past 4 GiB (nothing sent);
// a library status when a request failed;
// 1: a chunk refused with an IOC status, or a chunk the region does not hold
// (the controller reports a region shorter than the bytes asked for).
uint32_t uploadRegionChunks(const uint32_t* adapterHandle, uint32_t offset, uint8_t regionCode,
                            uint8_t* buffer, uint32_t size);
