// Device answers the library decodes: INQUIRY and its VPD pages, READ
// CAPACITY, sense data and device pages, each given exactly the bytes that
// came (a heap copy, so that a read past them is caught).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "hba/device_list.h"
#include "xollib/device_details.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    const uint8_t* p = bytes.empty() ? nullptr : bytes.data();
    inquiryDeviceType(p, size);
    char serial[kSerialTextCapacity];
    uint32_t length = 0;
    decodeUnitSerial(p, size, serial, &length);
    if (length >= kSerialTextCapacity || std::strlen(serial) != length)
        __builtin_trap();
    uint32_t last32 = 0;
    uint64_t last64 = 0;
    uint32_t blockSize = 0;
    decodeReadCapacity10(p, size, &last32, &blockSize);
    decodeReadCapacity16(p, size, &last64, &blockSize);
    vpdPageListed(p, size, 0xB1);
    uint16_t rate = 0;
    uint8_t formFactor = 0;
    decodeBlockCharacteristics(p, size, &rate, &formFactor);
    senseKeyOf(p, size);
    DevicePageFields fields = {};
    decodeDevicePage(p, size, false, &fields);
    decodeDevicePage(p, size, true, &fields);
    if (size >= 16) {
        char text[17];
        printableText(p, 16, text);
    }
    return 0;
}
