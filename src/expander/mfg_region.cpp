#include "expander/mfg_region.h"

#include <cstdio>

#include "shell/bytes.h"

namespace {

constexpr size_t kRegionHeaderLengthByte = 3;
constexpr size_t kRecordSize = 16;  // what the patch touches of a record
constexpr size_t kRecordHeader = 4;
constexpr uint16_t kAddressPageMinimum = 12;

}  // namespace

bool patchSasAddress(uint8_t* region, size_t size, uint64_t address, TextSink& sink) {
    if (region == nullptr || size <= kRegionHeaderLengthByte)
        return false;
    bool written = false;
    // Each step moves on by at least the record header: the walk ends.
    for (size_t offset = region[kRegionHeaderLengthByte]; offset < size;) {
        if (size - offset < kRecordSize) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "Manufacturing record at offset %zu does not fit in the region.", offset);
            sink.warn(text);
            break;
        }
        uint8_t* record = region + offset;
        const uint16_t pageLength = getLe16(record, 4);
        const uint16_t page = getLe16(record, 6);
        if (page == kPageListEnd)
            break;
        const bool active = (record[0] & 1) != 0;
        const bool addressPage = page == kPageSasAddress || page == kPageReportGeneral;
        if (active && addressPage && pageLength < kAddressPageMinimum) {
            // Its +8..+15 would be the next record's bytes.
        } else if (active) {
            if (addressPage) {
                putLe32(record, 8, static_cast<uint32_t>(address >> 32));
                putLe32(record, 12, static_cast<uint32_t>(address));
                uint8_t sum = 0;
                for (size_t i = 4; i < kRecordSize; ++i)
                    sum = static_cast<uint8_t>(sum + record[i]);
                record[1] = sum;
                written = true;
            }
            record[0] = kRecordMarkerActive;
        }
        offset += kRecordHeader + pageLength;
    }
    return written;
}
