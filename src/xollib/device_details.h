// Decoders of what a device and the controller answer about it: INQUIRY and
// its VPD pages, READ CAPACITY, sense data and the SAS / PCIe device pages.
// No I/O: every function takes the bytes actually received and never reads
// past them; a field that did not arrive reads as absent, not as zeros.
#pragma once

#include <cstddef>
#include <cstdint>

// Peripheral device type of a standard INQUIRY answer (31 when too short).
uint8_t inquiryDeviceType(const uint8_t* data, size_t received);

// Unit serial number page (0x80): the text, limited to 128 bytes and to what
// came, trimmed of spaces at both ends, copied to text (129 bytes, NUL
// terminated). false when the page code is not 0x80 or the header is short.
inline constexpr size_t kSerialTextCapacity = 129;
bool decodeUnitSerial(const uint8_t* data, size_t received, char* text, uint32_t* length);

// READ CAPACITY (10): last LBA and block size; false below 8 bytes.
bool decodeReadCapacity10(const uint8_t* data, size_t received, uint32_t* lastLba,
                          uint32_t* blockSize);
// READ CAPACITY (16): false below 12 bytes.
bool decodeReadCapacity16(const uint8_t* data, size_t received, uint64_t* lastLba,
                          uint32_t* blockSize);

// Supported VPD pages (0x00): whether `code` is listed among the entries that
// both the count (byte 3) and the received bytes cover.
bool vpdPageListed(const uint8_t* data, size_t received, uint8_t code);

// Block device characteristics (0xB1): rotation rate and form factor (low 4
// bits of byte 7); false when the page code is not 0xB1 or it is short.
bool decodeBlockCharacteristics(const uint8_t* data, size_t received, uint16_t* rotationRate,
                                uint8_t* formFactor);

// Sense key of fixed (0x70/0x71) or descriptor (0x72/0x73) sense data; 0
// for anything else or too short.
uint8_t senseKeyOf(const uint8_t* sense, size_t received);

// The fields of a SAS device page 0 (or of the extended type 29 page, whose
// port sits at byte 26 and whose attachment bit is 0x10) the device block
// keeps. false when the page is shorter than 36 bytes.
struct DevicePageFields {
    uint64_t sasAddress;
    uint16_t enclosureHandle;
    uint16_t slot;
    uint16_t devHandle;
    uint8_t phy;  // byte 22
    uint8_t port;
    uint8_t accessStatus;
    uint16_t flags;  // bytes 32..33
    uint32_t deviceInfo;
    uint32_t attachment;
};
inline constexpr size_t kDevicePageMinimum = 36;
bool decodeDevicePage(const uint8_t* page, size_t size, bool secondList, DevicePageFields* fields);

// Interface kind of a device info word: 1 SSP target, 2 STP target or SATA
// device, 3 NVMe (device type field 3), 15 otherwise.
uint32_t interfaceKindOf(uint32_t deviceInfo);
// Whether a SAS device page entry is a device to list.
bool isListedSasDevice(uint32_t deviceInfo, uint8_t accessStatus);
// Whether an extended type 29 entry is a device to list.
bool isListedSecondDevice(uint32_t deviceInfo, uint8_t accessStatus);
// Phy state code from the word at bytes 24..27 of SAS phy page 0.
uint32_t phyStateCode(uint32_t word);
