#include "hba/phy_args.h"

#include <cstring>
#include <vector>

#include "shell/logger.h"
#include "shell/parse.h"

uint32_t checkPhyNumber(const char* text, uint32_t phyCount, int* phy) {
    // An empty piece is no number at all, not a phy 0.
    if (text == nullptr || *text == '\0' || !isDecimalString(text)) {
        logError("Invalid Phy parameter specified.");
        return 1;
    }
    const size_t length = std::strlen(text);
    const uint32_t value = parseDecimal(text);
    if (length > 2 || value >= phyCount) {
        logError("Invalid Phy number specified. Phy number is not in the range.");
        return 1;
    }
    *phy = static_cast<int>(value);
    return 0;
}

uint32_t parsePhyRange(const char* text, uint32_t phyCount, int* first, int* last) {
    if (text == nullptr) {
        logError("Invalid Phy number specified. Provide a valid Phy number.");
        return 1;
    }
    // Split a copy: the caller's word stays as typed.
    std::vector<char> copy(text, text + std::strlen(text) + 1);
    uint32_t count = 0;
    std::vector<char*> pieces;
    if (!splitByDelimiter(copy.data(), '-', &count, &pieces) || count < 1 || count > 2) {
        logError("Invalid Phy number specified. Provide a valid Phy number.");
        return 1;
    }
    int low = -1;
    int high = kSinglePhy;
    if (checkPhyNumber(pieces[0], phyCount, &low) != 0)
        return 1;
    if (count == 2) {
        if (checkPhyNumber(pieces[1], phyCount, &high) != 0)
            return 1;
        if (low > high) {
            logError("Invalid Phy range specified.");
            return 1;
        }
        if (low == high)
            high = kSinglePhy;
    }
    *first = low;
    *last = high;
    return 0;
}
