// HBA locate; see locate.h.
#include "hba/locate.h"

#include <cstring>

#include "hba/command_target.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "shell/parse.h"
#include "shell/prompt.h"
#include "targets/adapter_record.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kMinWords = 3;
constexpr uint32_t kMaxWords = 5;
constexpr uint32_t kMaxWaitSeconds = 60;

// Slot lookup: SAS Device page 0 by handle; NVMe drives answer PCIe Device
// page 0 instead (the SAS read fails with one of these statuses).
constexpr uint32_t kDevicePageSize = 56;
constexpr uint8_t kExtPageTypePcieDevice = 0x1D;
constexpr uint32_t kPcieDeviceByHandle = 0x20000000;
constexpr uint32_t kNotSasStatusA = 0x30;
constexpr uint32_t kNotSasStatusB = 0x102;
constexpr size_t kPageSlot = 8;
constexpr size_t kPageEnclosure = 10;

// Enclosure processor request and reply.
constexpr uint32_t kEnclosureRequestSize = 32;
constexpr uint32_t kEnclosureReplySize = 32;
constexpr uint8_t kFunctionEnclosure = 0x18;
constexpr uint8_t kActionWrite = 0;
constexpr uint8_t kActionRead = 1;
constexpr uint8_t kBySlot = 1;
constexpr size_t kRequestStatus = 12;
constexpr size_t kRequestSlot = 28;
constexpr size_t kRequestEnclosure = 30;
constexpr size_t kReplyIocStatus = 14;
constexpr size_t kReplyStatus = 20;
constexpr uint32_t kIdentifyBit = 0x20000;

struct SlotAddress {
    uint16_t slot;
    uint16_t enclosure;
};

uint32_t findSlot(const uint32_t* handle, uint16_t device, SlotAddress* address) {
    uint8_t page[kDevicePageSize] = {};
    uint32_t size = sizeof page;
    uint32_t status = XolLib2ReadSasDevicePage0(handle, kPageFormByHandle, device, page, &size,
                                                kPageSelectorCurrent);
    if (status == kNotSasStatusA || status == kNotSasStatusB) {
        std::memset(page, 0, sizeof page);
        size = sizeof page;
        status = XolLib2ReadConfigPage(handle, kPcieDeviceByHandle + device, kPageTypeExtended, 0,
                                       kExtPageTypePcieDevice, kPageSelectorCurrent, page, &size);
    }
    if (status != kXolStatusSuccess || size < kPageEnclosure + 2) {
        logError("Invalid Device Handle passed. \n");
        return 1;
    }
    address->slot = getLe16(page, kPageSlot);
    address->enclosure = getLe16(page, kPageEnclosure);
    return 0;
}

// One enclosure processor request; *slotStatus in: the status to write,
// out: the status the reply carries. 0 or 1 (reported).
uint32_t enclosureRequest(const uint32_t* handle, const SlotAddress& address, uint8_t action,
                          uint32_t* slotStatus) {
    uint8_t request[kEnclosureRequestSize] = {};
    request[3] = kFunctionEnclosure;
    request[4] = action;
    request[5] = kBySlot;
    putLe32(request, kRequestStatus, *slotStatus);
    putLe16(request, kRequestSlot, address.slot);
    putLe16(request, kRequestEnclosure, address.enclosure);
    uint8_t reply[kEnclosureReplySize] = {};
    XolPassthroughBlock block = {};
    block.size = kXolPassthroughBlockSize;
    block.adapterHandle = *handle;
    block.signature = kXolPassthroughSignature;
    block.requestLength = sizeof request;
    block.request = request;
    block.replyLength = sizeof reply;
    block.reply = reply;
    const uint32_t status = XolLib2Passthrough(&block);
    if (status != kXolStatusSuccess) {
        logError("XOL Passthrough failed '0x%08X'. \n", status);
        return 1;
    }
    const uint32_t iocStatus = getLe16(reply, kReplyIocStatus) & 0x7FFFu;
    if (iocStatus != 0) {
        logError("Invalid IOCTL status '0x%08X'. \n", iocStatus);
        return 1;
    }
    *slotStatus = getLe32(reply, kReplyStatus);
    return 0;
}

// Reads the slot status and writes it back with the identify bit set or
// cleared.
uint32_t switchLed(const uint32_t* handle, const SlotAddress& address, bool on) {
    uint32_t status = 0;
    if (enclosureRequest(handle, address, kActionRead, &status) != 0)
        return 1;
    status = on ? (status | kIdentifyBit) : (status & ~kIdentifyBit);
    return enclosureRequest(handle, address, kActionWrite, &status);
}

// 0 with *device; 1 after reporting.
uint32_t parseHandle(const char* text, uint16_t* device) {
    if (text == nullptr) {
        logError("Device handle should be specified.");
        return 1;
    }
    if (*text == '\0' || !isHexString(text)) {
        logError("Invalid hex value specified for device handle.");
        return 1;
    }
    uint32_t value = 0;
    // The controller's handles are 16 bits: a longer value would address
    // another drive once cut.
    if (parseHex32(text, &value) != 0 || value > 0xFFFF) {
        logError("Invalid number specified for device handle.");
        return 1;
    }
    *device = static_cast<uint16_t>(value);
    return 0;
}

uint32_t parseWait(const char* text, uint32_t* seconds) {
    if (text == nullptr || *text == '\0' || !isDecimalString(text) || std::strlen(text) > 9 ||
        parseDecimal(text) == 0) {
        logError("Wait time should be specified.");
        return 1;
    }
    const uint32_t value = parseDecimal(text);
    if (value > kMaxWaitSeconds) {
        logError("Wait time should be less than 60 seconds.");
        return 1;
    }
    *seconds = value;
    return 0;
}

}  // namespace

uint32_t hbaLocateUsage() {
    const char* b = " ";
    logPrintLine("Locate Operations :");
    logPrintLine("This command will locate the drive and blink LED on or off operation");
    logPrintLine("%4s %s", b, " locate -on <device handle> [-wait [time]] ");
    logPrintLine("%4s %s", b, " locate -off <device handle> ");
    logPrintLine("%9s %s", b, " -on   :  Will turn ON the drive LED");
    logPrintLine("%9s %s", b, " -off  :  Will turn Off the drive LED");
    logPrintLine("%9s %s", b, " -wait :  Waiting time between 1 to 60 seconds");
    logPrintLine("%9s %s", b, " <device handle> should be in hex format");
    logPrintLine(" Example : locate -on 8 -wait 60");
    logPrintLine(" Example : locate -off 8 ");
    return 0;
}

uint32_t hbaLocateCommand(uint32_t count, char** words) {
    Target* target = nullptr;
    AdapterRecord* adapter = adapterForOptions(count, &target);
    if (adapter == nullptr)
        return 1;
    if (count < kMinWords || count > kMaxWords) {
        logError("Invalid number of argument(s) passed.");
        return 1;
    }
    enum class Action { None, On, Off } action = Action::None;
    uint16_t device = 0;
    uint32_t waitSeconds = 0;
    bool waitGiven = false;
    for (uint32_t i = 1; i < count; ++i) {
        const char* next = i + 1 < count ? words[i + 1] : nullptr;
        if (std::strcmp(words[i], "-on") == 0 || std::strcmp(words[i], "-off") == 0) {
            if (action != Action::None) {
                logError("Invalid argument '%s' specified.", words[i]);
                return 1;
            }
            action = words[i][2] == 'n' ? Action::On : Action::Off;
            if (parseHandle(next, &device) != 0)
                return 1;
            ++i;
        } else if (std::strcmp(words[i], "-wait") == 0 && !waitGiven) {
            if (parseWait(next, &waitSeconds) != 0)
                return 1;
            waitGiven = true;
            ++i;
        } else {
            logError("Invalid argument '%s' specified.", words[i]);
            return 1;
        }
    }
    if (action == Action::None) {
        logError("Device handle should be specified.");
        return 1;
    }
    if (waitGiven && action == Action::Off) {
        logError("-Wait option should not be provided with -off option.");
        return 1;
    }
    const uint32_t* handle = &adapter->adapterHandle;
    SlotAddress address = {};
    if (findSlot(handle, device, &address) != 0)
        return 1;
    if (switchLed(handle, address, action == Action::On) != 0)
        return 1;
    if (waitGiven) {
        sleepMilliseconds(waitSeconds * 1000);
        if (switchLed(handle, address, false) != 0)
            return 1;
    }
    logPrintLine("Locate command successful. ");
    return 0;
}
