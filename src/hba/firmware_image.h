// Controller firmware images as dl checks them before anything is written:
// the two header forms, the 32-bit checksum, the chain of extended images,
// the supported-device list, the NVDATA compatibility and downgrade rule,
// vendor/product and IT/IR. Pure: the file and flash bytes and the
// controller's identity come in, verdicts and the logger's lines go out.
// Every field is read only inside the bytes (and the extended image) it
// belongs to.
#pragma once

#include <cstddef>
#include <cstdint>

// What the checks compare an image against (the adapter information block).
struct ControllerIdentity {
    uint16_t deviceId = 0;      // PCI device ID
    uint8_t chipRevision = 0;   // PCI hardware revision
    bool newestFamily = false;  // controller generation code 8 to 10
};

// Extended image types.
inline constexpr uint32_t kExtImageNvdata = 3;
inline constexpr uint32_t kExtImageBootloader = 4;
inline constexpr uint32_t kExtImageInitialization = 5;
inline constexpr uint32_t kExtImageSupportedDevices = 7;

// Header fields, from the header start.
inline constexpr size_t kFwHeaderInterfaceVersion = 16;
inline constexpr size_t kFwHeaderFirmwareVersion = 20;
inline constexpr size_t kFwHeaderNvdataVersion = 24;
inline constexpr size_t kFwHeaderVendorId = 0x20;
inline constexpr size_t kFwHeaderProductId = 0x22;
inline constexpr size_t kFwHeaderFirstExtended = 0x30;
inline constexpr size_t kFwHeaderMinimumSize = 0x34;

// Two PCI device IDs name the same part: equal, or both in the controller's
// device-ID family.
bool deviceIdsMatch(uint16_t controller, uint16_t other);

// The 32-bit sum of the image's little-endian words; a 1-3 byte tail counts
// as a word padded with zeros. A sound image sums to 0.
uint32_t firmwareChecksum(const uint8_t* image, size_t size);

// The header of either form: 0 with *header its offset; 1 when neither form's
// signature is there (or the header would not fit in the image).
uint32_t locateFirmwareHeader(const uint8_t* image, size_t size, size_t* header);

// An extended image: its offset in the firmware image and its declared size
// (both inside the image).
struct ExtendedImage {
    size_t offset = 0;
    size_t size = 0;
};
// The ordinal-th extended image of the type (0 the first). 0 found; 1 when the
// header is not recognised, the chain ends, an offset repeats, or a header or
// its declared size lies past the end of the image.
uint32_t findExtendedImage(const uint8_t* image, size_t size, uint32_t type, uint32_t ordinal,
                           ExtendedImage* found);

// Steps that need the file only: signature, checksum, supported devices and
// an NVDATA image. 0 or 1, each step's lines logged.
uint32_t validateFirmwareFile(const uint8_t* file, size_t size, const ControllerIdentity& ioc);

// NVDATA check of the file against the flash firmware. 0 when an NVDATA image
// of the file fits the controller and does not downgrade the flash's; 1 with
// the reasons logged.
uint32_t checkNvdataCompatibility(const uint8_t* file, size_t fileSize, const uint8_t* flash,
                                  size_t flashSize, const ControllerIdentity& ioc);

// Vendor and product IDs, the IT/IR rule, and (outside the newest family) the
// initialization and bootloader images. 0 or 1.
uint32_t checkFirmwareIdentity(const uint8_t* file, size_t fileSize, const uint8_t* flash,
                               size_t flashSize, const ControllerIdentity& ioc);
