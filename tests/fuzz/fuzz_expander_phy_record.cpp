// Device bytes behind expander phy: a link block, the EDFB words and timing,
// and page 0xFF15 of any length, decoded into a record and printed as every
// table's row.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "expander/link_rate.h"
#include "expander/phy_info.h"
#include "expander/phy_tables.h"
#include "shell/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    PhyInfoRecord record;
    record.phy = data[0];
    record.enabled = (data[1] & 1) != 0;
    record.isVirtual = (data[1] & 2) != 0;
    data += 2;
    size -= 2;
    decodeLinkBlock(data, size, &record);
    if (size >= 4)
        decodeZoning(getLe32(data, 0), &record);
    if (size >= 16) {
        uint32_t words[kEdfbWordCount];
        for (uint32_t i = 0; i < kEdfbWordCount; ++i)
            words[i] = getLe32(data, i * 4);
        decodeEdfbWords(words, &record);
    }
    decodeEdfbTiming(data, size, &record);
    // The page is the rest, exactly as long as the device said: copied so
    // that a read past it is caught.
    const std::vector<uint8_t> page(data, data + size);
    decodeErrorLimit(page.data(), page.size(), &record);

    char row[kPhyRowSize];
    formatDaRow(record, row, sizeof row);
    formatEdfbRow(record, row, sizeof row);
    formatLinkRateRow(record, record.hardwareMinRate, record.hardwareMaxRate, row, sizeof row);
    char tiny[3];
    formatDaRow(record, tiny, sizeof tiny);
    formatEdfbRow(record, tiny, sizeof tiny);
    if (size >= 4) {
        uint8_t min = 0;
        uint8_t max = 0;
        programmedRates(getLe32(data, 0), &min, &max);
        RateProgram program{};
        if (rateProgram(data[0] & 0xF, data[1] & 0xF, &program) == RateProgramStatus::Ok) {
            rateWordEnabled(getLe32(data, 0), program);
            rateEnableWord(program);
        }
    }
    return 0;
}
