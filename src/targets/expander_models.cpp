#include "targets/expander_models.h"

#include <cstdio>

const uint32_t kExpanderSasCompanyPrefix = 0x53C2A1F0;

// Device ID 0x0A60 has two rows: the variant bit picks the first.
const ExpanderModel kExpanderModelTable[] = {
    {0x0A10, 1, "QX-S12"},    {0x0A20, 2, "QX-S24"},   {0x0A30, 3, "QX-S36"},
    {0x0A40, 4, "QX-E28"},    {0x0A50, 5, "QX-E16L"},  {0x0A60, 6, "QX-E36"},
    {0x0A60, 7, "QX-E36X"},   {0x0B10, 8, "QX2-S24"},  {0x0B20, 9, "QX2-S36"},
    {0x0B30, 10, "QX2-S48"},  {0x0B40, 11, "QX2-E40"}, {0x0B50, 12, "QX2-E31"},
    {0x0B60, 13, "QX2-E27V"}, {0, 0, nullptr},
};

const ExpanderModel* findExpanderModel(uint16_t deviceId) {
    if (deviceId == 0)
        return nullptr;
    for (const ExpanderModel* row = kExpanderModelTable; row->deviceId != 0; ++row) {
        if (row->deviceId == deviceId)
            return row;
    }
    return nullptr;
}

bool hasVariantRow(const ExpanderModel* model) {
    return model != nullptr && model[1].deviceId == model->deviceId;
}

const ExpanderModel* pickVariant(const ExpanderModel* first, bool variantBitSet) {
    if (!hasVariantRow(first))
        return first;
    return variantBitSet ? first : first + 1;
}

namespace {

struct RevisionName {
    uint32_t revision;
    const char* text;
};
constexpr RevisionName kRevisionNames[] = {{0, "A0"}, {1, "B0"}, {2, "C0"}, {3, "C1"}};

}  // namespace

void expanderRevisionText(uint32_t revision, char* out, size_t size) {
    for (const RevisionName& row : kRevisionNames) {
        if (row.revision == revision) {
            std::snprintf(out, size, "%s", row.text);
            return;
        }
    }
    std::snprintf(out, size, "REV 0x%02X", revision);
}
