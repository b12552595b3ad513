#include "hba/phy_pages.h"

#include "shell/bytes.h"

uint32_t ioUnit1EntryCount(size_t size) {
    if (size <= kIoUnit1Entries)
        return 0;
    return static_cast<uint32_t>((size - kIoUnit1Entries) / kIoUnit1EntrySize);
}

bool ioUnit1Entry(const uint8_t* page, size_t size, uint32_t phy, uint32_t* word) {
    if (page == nullptr || phy >= ioUnit1EntryCount(size))
        return false;
    *word = getLe32(page, kIoUnit1Entries + kIoUnit1EntrySize * phy);
    return true;
}

bool ioUnit1DeviceInfo(const uint8_t* page, size_t size, uint32_t phy, uint32_t* info) {
    if (page == nullptr || phy >= ioUnit1EntryCount(size))
        return false;
    *info = getLe32(page, kIoUnit1Entries + kIoUnit1EntrySize * phy + kIoUnit1EntryDeviceInfo);
    return true;
}

uint32_t reportMissingDelaySeconds(uint8_t delay) {
    return (delay & 0x80) != 0 ? (delay & 0x7Fu) * 16 : delay;
}

const char* maxLinkRateName(uint8_t rates) {
    switch (rates & 0xF0) {
        case 0x90:
            return "3.0";
        case 0xA0:
            return "6.0";
        case 0xB0:
            return "12.0";
        default:
            return "1.5";
    }
}

const char* minLinkRateName(uint8_t rates) {
    switch (rates & 0x0F) {
        case 9:
            return "3.0";
        case 10:
            return "6.0";
        case 11:
            return "12.0";
        default:
            return "1.5";
    }
}

void decodePhyEvents(const uint8_t* page, size_t size, PhyEventList* out) {
    out->count = 0;
    out->configured = false;
    if (page == nullptr || size <= kPhyEventEntries)
        return;
    const uint32_t room = static_cast<uint32_t>((size - kPhyEventEntries) / kPhyEventEntrySize);
    uint32_t count = page[kPhyEventCount];
    if (count > room)
        count = room;
    out->configured = page[kPhyEventEntries] != 0;
    out->count = count;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = kPhyEventEntries + kPhyEventEntrySize * i;
        out->events[i].code = page[at];
        out->events[i].counter = at + 8 <= size ? getLe32(page, at + 4) : 0;
    }
}

bool sameEventConfiguration(const PhyEventList& a, const PhyEventList& b) {
    if (a.count != b.count || a.configured != b.configured)
        return false;
    for (uint32_t i = 0; i < a.count; ++i) {
        if (a.events[i].code != b.events[i].code)
            return false;
    }
    return true;
}

namespace {

struct EventName {
    uint8_t code;
    const char* name;
};
constexpr EventName kEventNames[] = {
    {0x00, "Disabled"},        {0x01, "Invalid Dword"},   {0x02, "Disparity Error"},
    {0x03, "Loss Dword Sync"}, {0x04, "Phy Rst Problem"}, {0x05, "Elast. Overflow"},
    {0x06, "Rx Error"},        {0x20, "Rx Addr Frame"},   {0x21, "TxAC Open Rej"},
    {0x22, "RxAC Open Rej"},   {0x23, "TxRC Open Rej"},   {0x24, "RxRC Open Rej"},
    {0x25, "RxAIP Partial"},   {0x26, "RxAIP Connect"},   {0x27, "Tx Break"},
    {0x28, "Rx Break"},        {0x29, "Break Timeout"},   {0x2A, "Connection"},
    {0x2B, "PeakTx Pathway"},  {0x2C, "PeakTx ARB Wait"}, {0x2D, "Peak ARB Wait"},
    {0x2E, "Peak Conn."},      {0x40, "Tx SSP Frame"},    {0x41, "Rx SSP Frame"},
    {0x42, "Tx SSP Error"},    {0x43, "Rx SSP Error"},    {0x44, "Tx Cr. Block"},
    {0x45, "Rx Cr. Block"},    {0x50, "Tx SATA Frame"},   {0x51, "Rx SATA Frame"},
    {0x52, "SATA Overflow"},   {0x60, "Tx SMP Frame"},    {0x61, "Rx SMP Frame"},
    {0x63, "SMP Errors"},      {0xD0, "Hotplug Timeout"}, {0xD1, "Misal. Mux Pri"},
    {0xD2, "Rx AIP"},
};

}  // namespace

const char* phyEventName(uint8_t code) {
    for (const EventName& row : kEventNames) {
        if (row.code == code)
            return row.name;
    }
    return "Evnt";
}
