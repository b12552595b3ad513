// Builders of expander flash and log contents: firmware images, page-record
// images (manufacturing and persistent regions), trace buffers and health
// logs. Each builder makes a valid image from its options; the `break*`
// options and overrides make deliberately damaged ones for negative tests.
// Pure functions: no I/O, no global state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qemu::images {

// ---------------------------------------------------------------- firmware

inline constexpr uint32_t kFirmwareSignature1 = 0xC0EABAA0;  // offset 4
inline constexpr uint32_t kFirmwareSignature2 = 0xC0BAEAA0;  // offset 8
inline constexpr uint32_t kFirmwareSignature3 = 0xC0BAA0EA;  // offset 12
inline constexpr size_t kFirmwareHeaderSize = 84;

// Header layout (32-bit little-endian words):
//   0 image type "QXFW", 4/8/12 signatures, 16 device ID, 20 build number,
//   24 flags, 28..35 flash stamp (not compared after a download),
//   36 version (most significant byte = major), 40..55 product name,
//   56 length of the image (what a region header reports), 76 length word
//   (0xFFFFFFFF = not set), 80 checksum balance so that all words sum to 0.
inline constexpr size_t kFirmwareVersionOffset = 36;
inline constexpr size_t kFirmwareImageLengthOffset = 56;
inline constexpr size_t kFirmwareLengthWordOffset = 76;
inline constexpr size_t kFirmwareChecksumOffset = 80;

struct FirmwareImageOptions {
    uint32_t version = 0x01000000;
    uint32_t deviceId = 0;
    uint32_t buildNumber = 1;
    size_t length = 0x10000;                   // rounded up to a multiple of 4, at least the header
    uint32_t lengthWord = 0xFFFFFFFF;          // offset 76
    std::optional<uint32_t> imageLengthField;  // offset 56; default: the length
    uint32_t seed = 1;                         // payload pattern
    std::string productName = "QX-FIRMWARE";
    bool breakSignature = false;  // second signature word wrong
    bool breakChecksum = false;   // words no longer sum to 0
};

std::vector<uint8_t> buildFirmwareImage(const FirmwareImageOptions& options);
// True when the three signature words are in place (size must cover them).
bool firmwareSignatureValid(const uint8_t* data, size_t size);
// Wrapping sum of the 32-bit little-endian words of the first length bytes
// (length cut down to a multiple of 4); 0 for a valid image.
uint32_t firmwareWordSum(const uint8_t* data, size_t length);

// ---------------------------------------------------------------- page records

// Page-record images hold configuration pages: header (byte 2 signature 0x10,
// byte 3 header length H), then records from H: marker, checksum (8-bit sum
// of the page bytes), two unused bytes, then the page (bytes 0..1 its length
// including the four header bytes, bytes 2..3 its number). A record with
// marker 0xFF or page number 0xFFFF ends the list.
inline constexpr uint8_t kPageImageSignature = 0x10;
inline constexpr uint8_t kPageImageHeaderLength = 16;
inline constexpr uint8_t kRecordActive = 0xF9;    // bit 0 set: in use
inline constexpr uint8_t kRecordInactive = 0xF8;  // bit 0 clear: superseded
inline constexpr uint8_t kRecordEnd = 0xFF;

// A page: length (4 + body size) and number in front of the body.
std::vector<uint8_t> buildPage(uint16_t number, const std::vector<uint8_t>& body);
uint8_t pageChecksum(const std::vector<uint8_t>& page);

struct PageRecord {
    std::vector<uint8_t> page;
    uint8_t marker = kRecordActive;
    bool breakChecksum = false;
};

struct PageImageOptions {
    std::vector<PageRecord> records;
    uint8_t signature = kPageImageSignature;
    uint8_t headerLength = kPageImageHeaderLength;  // at least 4
    bool endRecord = true;                          // append the 0xFF end record
    size_t capacity = 0;                            // pad with 0xFF up to this size; 0 = exact size
};

std::vector<uint8_t> buildPageImage(const PageImageOptions& options);

struct ParsedRecord {
    size_t offset = 0;  // of the record
    uint8_t marker = 0;
    bool checksumOk = false;
    uint16_t number = 0;
    std::vector<uint8_t> page;
};

// Walks a page-record image; never reads past size. An image without the
// signature yields no records.
std::vector<ParsedRecord> parsePageImage(const uint8_t* data, size_t size);

// Pages the expander keeps (layouts of the fields the management tools read).
inline constexpr uint16_t kPageSasAddress = 0xFE00;     // 4..7 high, 8..11 low
inline constexpr uint16_t kPageReportGeneral = 0xFE01;  // same address fields
inline constexpr uint16_t kPageSerial = 0xFE02;         // 8..17 serial number
inline constexpr uint16_t kPageEnclosure = 0xFE03;      // 4..11 enclosure logical ID
inline constexpr uint16_t kPageMac = 0xFE05;            // 4..9 MAC address
inline constexpr uint16_t kPageIoSettings = 0xFF01;     // phy count, flags
inline constexpr uint16_t kPageManufacturing = 0xFF0F;  // revisions, names, time stamp
inline constexpr uint16_t kPageEdfb = 0xFF15;           // error-limit words near the end
inline constexpr uint16_t kPageNetwork = 0xFF27;        // 4..7 IP, 28 address mode

std::vector<uint8_t> sasAddressPage(uint16_t number, uint64_t sasAddress);  // 12 bytes
std::vector<uint8_t> serialPage(const std::string& serial, const std::string& boardId);
std::vector<uint8_t> enclosurePage(uint64_t logicalId, uint16_t slots);
std::vector<uint8_t> macPage(const std::array<uint8_t, 6>& mac);
std::vector<uint8_t> ioSettingsPage(uint8_t phyCount, uint32_t flags);

struct ManufacturingInfo {
    uint32_t firmwareRevision = 0x01000000;  // bytes 8..11, most significant first
    uint32_t manufacturingRevision = 0x01000000;
    unsigned year = 24, month = 1, day = 1, hour = 0, minute = 0;
    std::string productName;   // 14 characters at 20..33, blank padded
    std::string platformName;  // from 34 to the end of the page
};
std::vector<uint8_t> manufacturingPage(const ManufacturingInfo& info);
uint32_t packTimeStamp(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute);

// Words: 1 EDFB enables of phys 0..31, 2 of phys 32..63, 4 error limits of
// phys 0..31, 5 of 32..63 (words L/4-4 and L/4-3 of the 32-byte page).
std::vector<uint8_t> edfbPage(uint64_t enableMask, uint64_t errorLimitMask);
std::vector<uint8_t> networkPage(const std::array<uint8_t, 4>& ip, bool assignedByNetwork);

// ---------------------------------------------------------------- trace buffer

struct TraceModule {
    uint8_t id = 0;
    std::vector<std::string> strings;
    std::optional<uint16_t> stringCountOverride;  // e.g. 0 for a broken record
};

struct TraceRecord {
    uint8_t module = 0;
    uint16_t string = 0;  // 0-based; the descriptor holds string + 1
    std::vector<uint32_t> args;
    std::optional<uint8_t> argCountOverride;  // descriptor count without matching words
};

struct TraceBufferOptions {
    uint32_t version = 1;
    uint32_t headerWord = 0x51585452;  // "RTXQ": not interpreted by readers
    uint32_t flags = 1;
    std::vector<TraceModule> modules;
    std::vector<TraceRecord> records;
    std::optional<uint32_t> stringTableSizeOverride;
};

std::vector<uint8_t> buildTraceBuffer(const TraceBufferOptions& options);
TraceBufferOptions sampleTrace();

// ---------------------------------------------------------------- health logs

inline constexpr size_t kHealthEntrySize = 64;

struct HealthLogEntry {
    uint64_t timestamp = 0;  // 0 ends the log
    uint32_t reserved = 0;   // offset 8
    uint16_t sequence = 0;
    uint16_t qualifier = 0;
    uint32_t code = 0;
    uint16_t locale = 0;
    uint8_t argumentType = 0;
    uint8_t logClass = 0;
    std::array<uint32_t, 10> data{};
};

// Entries back to back, zero-filled up to capacity (0: the entries plus one
// zero entry that ends the log). Entries beyond the capacity are dropped.
std::vector<uint8_t> buildHealthLog(const std::vector<HealthLogEntry>& entries,
                                    size_t capacity = 0);
// The firmware's own text rendering, as the decoded buffer holds it.
std::string renderHealthLogText(const std::vector<HealthLogEntry>& entries);
std::vector<HealthLogEntry> sampleHealthLog();

}  // namespace qemu::images
