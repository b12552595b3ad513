#include "hba/cfg_pages.h"

#include "shell/bytes.h"

namespace {
constexpr uint8_t kExtendedType = 15;
constexpr uint32_t kStandardHeaderEnd = 0;  // offsets up to this hold the header
constexpr uint32_t kExtendedHeaderEnd = 8;
constexpr size_t kMappingWordA = 16;
constexpr size_t kMappingWordB = 20;
}  // namespace

SentPageType sentPageType(uint8_t requested) {
    if (requested > kExtendedType)
        return {kExtendedType, requested};
    return {requested, 0};
}

bool writeOffsetAllowed(uint32_t requestedType, uint32_t offset) {
    if (requestedType <= 9)
        return offset > kStandardHeaderEnd;
    if (requestedType == 10)
        return true;
    return offset > kExtendedHeaderEnd;
}

bool writeRangeFits(uint32_t pageLength, uint32_t offset, uint32_t count) {
    if (offset > pageLength)
        return false;
    const uint64_t end = static_cast<uint64_t>(offset / 4) + count;
    return end <= pageLength / 4;
}

uint32_t comparePages(const uint8_t* def, size_t defLength, const uint8_t* nvram,
                      size_t nvramLength, MismatchVisitor visit, void* context) {
    if (def == nullptr || nvram == nullptr)
        return 0;
    const size_t length = (defLength < nvramLength ? defLength : nvramLength) & ~size_t{3};
    uint32_t differences = 0;
    for (size_t off = 0; off < length; off += 4) {
        const uint32_t a = getLe32(def, off);
        const uint32_t b = getLe32(nvram, off);
        if (a == b)
            continue;
        ++differences;
        if (visit != nullptr)
            visit(context, static_cast<uint32_t>(off), a, b);
    }
    return differences;
}

bool pageU8(const uint8_t* page, size_t length, size_t offset, uint8_t* out) {
    if (page == nullptr || offset >= length)
        return false;
    *out = page[offset];
    return true;
}

bool pageU16(const uint8_t* page, size_t length, size_t offset, uint16_t* out) {
    if (page == nullptr || length < 2 || offset > length - 2)
        return false;
    *out = getLe16(page, offset);
    return true;
}

bool pageU32(const uint8_t* page, size_t length, size_t offset, uint32_t* out) {
    if (page == nullptr || length < 4 || offset > length - 4)
        return false;
    *out = getLe32(page, offset);
    return true;
}

bool mappingEntryUsed(const uint8_t* page, size_t length) {
    uint32_t a = 0;
    uint32_t b = 0;
    if (!pageU32(page, length, kMappingWordA, &a) || !pageU32(page, length, kMappingWordB, &b))
        return false;
    return a != 0 || b != 0;
}

bool WalkGuard::firstVisit(uint32_t key) {
    key &= 0xFFFF;
    const uint32_t bit = 1u << (key % 32);
    uint32_t& word = seen_[key / 32];
    if ((word & bit) != 0)
        return false;
    word |= bit;
    return true;
}
