// ioc -displaypcie / -configpcie: the PCIe link settings of the newest
// controller family, from PCIe IO Unit pages 0 and 1.
#include <cstdint>

#include "hba/ioc.h"
#include "hba/ioc_decode.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "shell/options.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint8_t kExtPageTypePcieIoUnit = 0x1B;
constexpr uint8_t kRateShift = 4;
constexpr uint8_t kRateCodeBase = 2;  // answer 0 = 2.5 GT/s = code 2

bool familyHasPcie(const Target* target) {
    return target->family >= 8 && target->family <= 10;
}

uint32_t readPcieUnit1(const AdapterRecord* adapter, uint32_t selector, IocPage* page) {
    uint32_t status = 0;
    switch (readIocPage(adapter, kPageTypeExtended, 1, kExtPageTypePcieIoUnit, selector, page,
                        &status)) {
        case IocPageStep::Ok:
            if (page->length > kPcieUnit1LinkCount)
                return 0;
            status = kXolStatusBufferTooSmall;
            [[fallthrough]];
        case IocPageStep::Read:
            logError("Error in getting page for PCIe IO Unit Page 1 ERROR CODE : %08x", status);
            return 1;
        case IocPageStep::Header:
            logError("Error in getting page header for PCIe IO Unit Page 1 ERROR CODE : %08x",
                     status);
            return 1;
        case IocPageStep::Allocate:
            logError("Error in allocating memory for PCIe IO Unit Page 1");
            return 1;
    }
    return 1;
}

uint32_t readPcieUnit0(const AdapterRecord* adapter, IocPage* page) {
    uint32_t status = 0;
    switch (readIocPage(adapter, kPageTypeExtended, 0, kExtPageTypePcieIoUnit, kPageSelectorCurrent,
                        page, &status)) {
        case IocPageStep::Ok:
            return 0;
        case IocPageStep::Header:
            logError("Error in getting page header for PCIe IO Unit Page 0 ERROR CODE : %08x",
                     status);
            return 1;
        case IocPageStep::Allocate:
            logError("Error in allocating memory for PCIe IO Unit Page 0");
            return 1;
        case IocPageStep::Read:
            logError("Error in  getting PCIe IO Unit page 0 for link : %d ERROR CODE : %08x ", 0,
                     status);
            return 1;
    }
    return 1;
}

uint32_t displayLinks(const IocPage& unit1, const IocPage& unit0) {
    const uint8_t* p1 = unit1.bytes.data();
    const uint32_t links = pcieLinkCount(p1, unit1.length);
    logPrintLine("%-35s : %d", "NVMe maximum queue depth",
                 unit1.length >= kPcieUnit1QueueDepth + 2 ? getLe16(p1, kPcieUnit1QueueDepth) : 0);
    logPrintLine("%-35s : %d ", "Num Phys", static_cast<int>(links));
    logPrintLine(
        "PCIe EndPoint Only values can be PCIe Endpoint Only (EP) or PCIe RootComplex (RC)");
    logPrintLine("Link %4s Link %4s PCIe Endpoint Link %4s Direct %4s Device", "", "", "", "");
    logPrintLine("Num %5s Enabled %2sOnly %8s Rate %4s Att. %6s Type", "", "", "", "", "");
    for (uint32_t i = 0; i < links; ++i) {
        PcieLinkEntry entry = {};
        uint16_t attached = 0;
        pcieLinkEntry(p1, unit1.length, i, &entry);
        if (!pcieAttachedHandle(unit0.bytes.data(), unit0.length, i, &attached)) {
            logError("Error in  getting PCIe IO Unit page 0 for link : %d ERROR CODE : %08x ",
                     static_cast<int>(i), kXolStatusBufferTooSmall);
            return 1;
        }
        if (attached == 0) {
            logPrintLine("%-10s %-8s %-13s %-10s %-10s %-10s", "-", "-", "-", "-", "-", "-");
        } else {
            logPrintLine("%02d %6s %-3s %4s %4s %6s %6s %6s %2s %7s %3x", entry.linkNumber, "",
                         (entry.flags & kPcieLinkFlagDisabled) != 0 ? "No" : "Yes", "",
                         pcieEndpointText(entry.flags), "", pcieRateText(entry.maxRate), "",
                         (entry.deviceInfo & kPcieDeviceDirectAttached) != 0 ? "Yes" : "No", "",
                         entry.deviceInfo);
        }
        logPrintLine("");
    }
    return 0;
}

void applyBit(uint8_t* byte, uint8_t bit, bool set) {
    *byte = set ? static_cast<uint8_t>(*byte | bit) : static_cast<uint8_t>(*byte & ~bit);
}

// 1 when input gave up (nothing is written).
uint32_t askPcieSettings(IocPage* unit1) {
    uint8_t* p1 = unit1->bytes.data();
    const uint32_t links = pcieLinkCount(p1, unit1->length);
    uint32_t v = 0;
    uint32_t r =
        askSetting("NVMe Maximum Queue Depth [0 to 255, ENTER=Do not change] : ", 255, true, &v);
    if (r == 1)
        return 1;
    if (r == 0 && unit1->length >= kPcieUnit1QueueDepth + 2)
        putLe16(p1, kPcieUnit1QueueDepth, static_cast<uint16_t>(v));
    for (;;) {
        uint32_t link = 0;
        r = askPhySelection(links, &link);
        if (r == 1)
            return 1;
        if (r == 3)
            return 0;
        uint32_t disabled = 0, endpoint = 0, rate = 0, number = 0;
        const uint32_t rd = askSetting(
            "Phy link [0=Enabled , 1=Disabled, ENTER=Do not change] : ", 1, true, &disabled);
        if (rd == 1)
            return 1;
        const uint32_t re = askSetting(
            "PCIe Endpoint Only [0=Root Complex , 1=Endpoint Only, ENTER=Do not change] : ", 1,
            true, &endpoint);
        if (re == 1)
            return 1;
        const uint32_t rr = askSetting(
            "Max Link Rate [0=2.5 Gtps, 1=5.0 Gtps, 2=8.0 Gtps, ENTER=Do not change] : ", 2, true,
            &rate);
        if (rr == 1)
            return 1;
        if (askSetting("Link number [0 to 255] : ", 255, false, &number) != 0)
            return 1;
        for (uint32_t i = 0; i < links; ++i) {
            if (link != links && link != i)
                continue;
            uint8_t* e = p1 + kPcieUnit1Entries + kPcieUnit1EntrySize * i;
            if (rd == 0)
                applyBit(&e[2], kPcieLinkFlagDisabled, disabled == 1);
            if (re == 0)
                applyBit(&e[2], kPcieLinkFlagEndpointOnly, endpoint == 1);
            if (rr == 0)
                e[3] = static_cast<uint8_t>(((rate + kRateCodeBase) << kRateShift) | (e[3] & 0xF));
            e[0] = static_cast<uint8_t>(number);
        }
    }
}

}  // namespace

uint32_t iocPcieSettings(const Target* target, const AdapterRecord* adapter, bool configure) {
    if (!familyHasPcie(target)) {
        logError("PCIe operation is not supported for the selected target");
        return 1;
    }
    if (configure && currentExecutionMode() == ExecutionMode::Batch) {
        logError("Change PCIe IO Unit settings cannot be executed in Batch Mode.");
        return 1;
    }
    IocPage unit1;
    IocPage unit0;
    if (readPcieUnit1(adapter, configure ? kPageSelectorNvram : kPageSelectorCurrent, &unit1) !=
            0 ||
        readPcieUnit0(adapter, &unit0) != 0 || displayLinks(unit1, unit0) != 0) {
        logError("Error in performing PCIe Configuration parameters");
        return 1;
    }
    if (!configure)
        return 0;
    if (askPcieSettings(&unit1) != 0)
        return 1;
    const uint32_t status = writeIocPage(adapter, kPageTypeExtended, 1, kExtPageTypePcieIoUnit,
                                         kPageSelectorNvram, &unit1);
    if (status != kXolStatusSuccess) {
        logError("Error in setting the new values ERROR CODE : %08x", status);
        logError("Error in performing PCIe Configuration parameters");
        return 1;
    }
    return 0;
}
