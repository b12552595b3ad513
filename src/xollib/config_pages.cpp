// Configuration pages: the header-then-page exchange, selectors, the mapping of
// the controller's configuration IOCStatus values, the fixed readers with their
// family rules and address forms, and the walk over a list of objects.
#include <cstring>

#include "shell/bytes.h"
#include "xollib/xol_internal.h"

namespace {

constexpr uint16_t kIocStatusInvalidFunction = 0x0001;
constexpr uint16_t kIocStatusConfigInvalidAction = 0x0020;
constexpr uint16_t kIocStatusConfigInvalidType = 0x0021;
constexpr uint16_t kIocStatusConfigInvalidPage = 0x0022;

constexpr uint32_t kAddressFormShift = 28;
constexpr uint32_t kExpanderPhyShift = 16;

struct PageRequest {
    const uint32_t* handle;
    uint32_t pageAddress;
    uint8_t extPageType;
    uint8_t header[4] = {};      // in and out
    uint16_t extPageLength = 0;  // in and out
};

// One configuration request; on success the reply's header and extended
// length come back through the request.
uint32_t exchange(PageRequest* page, uint8_t action, uint8_t* data, uint32_t dataLength) {
    if (page->handle == nullptr)
        return kXolStatusNoAdapter;
    uint8_t frame[kConfigRequestSize];
    buildConfigFrame(frame, action, page->header, page->extPageLength, page->extPageType,
                     page->pageAddress);
    uint8_t reply[kConfigReplySize] = {};
    XolPassthroughBlock block =
        makePassthroughBlock(*page->handle, frame, sizeof frame, reply, sizeof reply);
    if (action == kConfigActionReadCurrent || action == kConfigActionReadDefault ||
        action == kConfigActionReadNvram) {
        block.dataIn = data;
        block.dataInLength = dataLength;
    } else if (action != kConfigActionHeader) {
        block.dataOut = data;
        block.dataOutLength = dataLength;
    }
    const uint32_t status = XolLib2Passthrough(&block);
    if (status != kXolStatusSuccess)
        return status;
    const uint16_t iocStatus = getLe16(reply, kReplyIocStatus) & 0x7FFF;
    if (iocStatus != 0)
        return mapConfigIocStatus(iocStatus);
    std::memcpy(page->header, reply + kConfigReplyHeader, 4);
    page->extPageLength = getLe16(reply, kConfigReplyExtPageLength);
    return kXolStatusSuccess;
}

// The header request that starts every read and write, after the checks
// both share; on success the page's size in bytes comes back.
uint32_t requestHeader(PageRequest* page, uint8_t pageType, uint8_t pageNumber,
                       const uint32_t* size, uint32_t* pageSize) {
    if (size == nullptr)
        return kXolStatusInvalidArgument;
    if (pageType == kPageTypeExtended && page->extPageType == 0)
        return kXolStatusInvalidArgument;
    page->header[kPageHeaderVersion] = 0;
    page->header[kPageHeaderLength] = 0;
    page->header[kPageHeaderNumber] = pageNumber;
    page->header[kPageHeaderType] = pageType;
    page->extPageLength = 0;
    const uint32_t status = exchange(page, kConfigActionHeader, nullptr, 0);
    if (status != kXolStatusSuccess)
        return status;
    *pageSize = 4u * (pageType == kPageTypeExtended ? page->extPageLength
                                                    : page->header[kPageHeaderLength]);
    return kXolStatusSuccess;
}

uint32_t readStandard(const uint32_t* handle, uint8_t type, uint8_t number, uint8_t* buffer,
                      uint32_t* size, uint32_t selector) {
    return XolLib2ReadConfigPage(handle, 0, type, number, 0, selector, buffer, size);
}

uint32_t readExtended(const uint32_t* handle, uint32_t address, uint8_t extType, uint8_t number,
                      uint8_t* buffer, uint32_t* size, uint32_t selector) {
    return XolLib2ReadConfigPage(handle, address, kPageTypeExtended, number, extType, selector,
                                 buffer, size);
}

// 0 when the adapter's new-family flag is `wanted`; 23 when it is not; the
// lookup's status when there is no such adapter.
uint32_t requireFamily(const uint32_t* handle, bool wanted) {
    XolAdapterRecord* adapter = nullptr;
    const uint32_t status = lookupAdapter(handle, &adapter);
    if (status != kXolStatusSuccess)
        return status;
    return (adapter->newFamily != 0) == wanted ? kXolStatusSuccess : kXolStatusNotApplicable;
}

// Address for the "next" and one "by handle" form; 259 for any other form.
uint32_t handleAddress(uint32_t form, uint32_t byHandleForm, uint16_t devHandle,
                       uint32_t* address) {
    if (form == kPageFormNext) {
        *address = devHandle;
    } else if (form == byHandleForm) {
        *address = (byHandleForm << kAddressFormShift) | devHandle;
    } else {
        return kXolStatusBadPageForm;
    }
    return kXolStatusSuccess;
}

uint32_t readDevicePage(const uint32_t* handle, uint8_t number, uint32_t form, uint16_t devHandle,
                        uint8_t* buffer, uint32_t* size, uint32_t selector) {
    uint32_t address = 0;
    const uint32_t status = handleAddress(form, kPageFormByHandle, devHandle, &address);
    if (status != kXolStatusSuccess)
        return status;
    return readExtended(handle, address, kExtPageTypeSasDevice, number, buffer, size, selector);
}

uint32_t readPhyPage(const uint32_t* handle, uint8_t number, uint32_t form, uint16_t phy,
                     uint8_t* buffer, uint32_t* size, uint32_t selector) {
    uint32_t address = 0;
    if (form == kPageFormNext) {
        address = phy & 0xFFu;
    } else if (form == kPageFormSecondary) {
        address = (kPageFormSecondary << kAddressFormShift) | phy;
    } else {
        return kXolStatusBadPageForm;
    }
    return readExtended(handle, address, kExtPageTypeSasPhy, number, buffer, size, selector);
}

}  // namespace

void buildConfigFrame(uint8_t* frame, uint8_t action, const uint8_t* pageHeader,
                      uint16_t extPageLength, uint8_t extPageType, uint32_t pageAddress) {
    std::memset(frame, 0, kConfigRequestSize);
    frame[kConfigAction] = action;
    frame[kFrameFunction] = kFunctionConfig;
    putLe16(frame, kConfigExtPageLength, extPageLength);
    frame[kConfigExtPageType] = extPageType;
    std::memcpy(frame + kConfigHeader, pageHeader, 4);
    putLe32(frame, kConfigPageAddress, pageAddress);
}

uint32_t mapConfigIocStatus(uint16_t iocStatus) {
    switch (iocStatus & 0x7FFF) {
        case 0:
            return kXolStatusSuccess;
        case kIocStatusConfigInvalidAction:
            return kXolStatusConfigInvalidAction;
        case kIocStatusConfigInvalidType:
            return kXolStatusConfigInvalidType;
        case kIocStatusConfigInvalidPage:
        case kIocStatusInvalidFunction:
            return kXolStatusConfigNoPage;
        default:
            return kXolStatusFailure;
    }
}

uint32_t readSelectorAction(uint32_t selector, uint8_t* action) {
    static const uint8_t kActions[] = {kConfigActionReadCurrent, kConfigActionReadDefault,
                                       kConfigActionReadNvram};
    if (selector < 1 || selector > 3)
        return kXolStatusInvalidArgument;
    *action = kActions[selector - 1];
    return kXolStatusSuccess;
}

uint32_t writeSelectorAction(uint32_t selector, uint8_t* action) {
    static const uint8_t kActions[] = {kConfigActionWriteCurrent, kConfigActionDefault,
                                       kConfigActionWriteNvram};
    if (selector < 1 || selector > 3)
        return kXolStatusInvalidArgument;
    *action = kActions[selector - 1];
    return kXolStatusSuccess;
}

uint32_t XolLib2ReadConfigPage(const uint32_t* handle, uint32_t pageAddress, uint8_t pageType,
                               uint8_t pageNumber, uint8_t extPageType, uint32_t selector,
                               uint8_t* buffer, uint32_t* size) {
    PageRequest page{handle, pageAddress, extPageType};
    uint32_t pageSize = 0;
    uint32_t status = requestHeader(&page, pageType, pageNumber, size, &pageSize);
    if (status != kXolStatusSuccess)
        return status;
    if (selector == kPageSelectorSize) {
        *size = pageSize;
        return kXolStatusSuccess;
    }
    if (buffer == nullptr || *size == 0) {
        *size = pageSize;
        return kXolStatusBufferTooSmall;
    }
    uint8_t action = 0;
    status = readSelectorAction(selector, &action);
    if (status != kXolStatusSuccess)
        return status;
    ByteBuffer data;
    if (!data.allocate(pageSize))
        return kXolStatusNoMemory;
    status = exchange(&page, action, data.data(), pageSize);
    if (status != kXolStatusSuccess)
        return status;
    std::memcpy(buffer, data.data(), *size < pageSize ? *size : pageSize);
    *size = pageSize;
    return kXolStatusSuccess;
}

uint32_t XolLib2WriteConfigPage(const uint32_t* handle, uint32_t pageAddress, uint8_t pageType,
                                uint8_t pageNumber, uint8_t extPageType, uint32_t selector,
                                uint8_t* buffer, uint32_t* size) {
    PageRequest page{handle, pageAddress, extPageType};
    uint32_t pageSize = 0;
    uint32_t status = requestHeader(&page, pageType, pageNumber, size, &pageSize);
    if (status != kXolStatusSuccess)
        return status;
    uint8_t action = 0;
    status = writeSelectorAction(selector, &action);
    if (status != kXolStatusSuccess)
        return status;
    if (buffer == nullptr)
        return kXolStatusBufferTooSmall;
    return exchange(&page, action, buffer, *size);
}

uint32_t XolLib2WriteSasIoUnitPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                    uint32_t selector) {
    return XolLib2WriteConfigPage(handle, 0, kPageTypeExtended, 1, kExtPageTypeSasIoUnit, selector,
                                  buffer, size);
}

uint32_t XolLib2ReadManufacturingPage(const uint32_t* handle, uint8_t pageNumber, uint8_t* buffer,
                                      uint32_t* size, uint32_t selector) {
    return readStandard(handle, kPageTypeManufacturing, pageNumber, buffer, size, selector);
}

uint32_t XolLib2ReadManufacturingPage0(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector) {
    return readStandard(handle, kPageTypeManufacturing, 0, buffer, size, selector);
}

uint32_t XolLib2ReadManufacturingPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector) {
    return readStandard(handle, kPageTypeManufacturing, 1, buffer, size, selector);
}

uint32_t XolLib2ReadManufacturingPage2(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector) {
    return readStandard(handle, kPageTypeManufacturing, 2, buffer, size, selector);
}

uint32_t XolLib2ReadManufacturingPage3(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector) {
    return readStandard(handle, kPageTypeManufacturing, 3, buffer, size, selector);
}

uint32_t XolLib2ReadManufacturingPage4(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector) {
    return readStandard(handle, kPageTypeManufacturing, 4, buffer, size, selector);
}

uint32_t XolLib2ReadManufacturingPage5(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector) {
    return readStandard(handle, kPageTypeManufacturing, 5, buffer, size, selector);
}

uint32_t XolLib2ReadManufacturingPage6(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector) {
    return readStandard(handle, kPageTypeManufacturing, 6, buffer, size, selector);
}

uint32_t XolLib2ReadManufacturingPage7(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                       uint32_t selector) {
    return readStandard(handle, kPageTypeManufacturing, 7, buffer, size, selector);
}

uint32_t XolLib2ReadIoUnitPage0(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                uint32_t selector) {
    return readStandard(handle, kPageTypeIoUnit, 0, buffer, size, selector);
}

uint32_t XolLib2ReadIoUnitPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                uint32_t selector) {
    return readStandard(handle, kPageTypeIoUnit, 1, buffer, size, selector);
}

uint32_t XolLib2ReadIoUnitPage3(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                uint32_t selector) {
    return readStandard(handle, kPageTypeIoUnit, 3, buffer, size, selector);
}

uint32_t XolLib2ReadIoUnitPage7(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                uint32_t selector) {
    return readStandard(handle, kPageTypeIoUnit, 7, buffer, size, selector);
}

uint32_t XolLib2ReadIocPage0(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector) {
    return readStandard(handle, kPageTypeIoc, 0, buffer, size, selector);
}

uint32_t XolLib2ReadIocPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector) {
    return readStandard(handle, kPageTypeIoc, 1, buffer, size, selector);
}

uint32_t XolLib2ReadIocPage6(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector) {
    return readStandard(handle, kPageTypeIoc, 6, buffer, size, selector);
}

uint32_t XolLib2ReadIocPage7(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector) {
    return readStandard(handle, kPageTypeIoc, 7, buffer, size, selector);
}

uint32_t XolLib2ReadIocPage8(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector) {
    return readStandard(handle, kPageTypeIoc, 8, buffer, size, selector);
}

uint32_t XolLib2ReadBiosPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                              uint32_t selector) {
    return readStandard(handle, kPageTypeBios, 1, buffer, size, selector);
}

uint32_t XolLib2ReadBiosPage2(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                              uint32_t selector) {
    return readStandard(handle, kPageTypeBios, 2, buffer, size, selector);
}

uint32_t XolLib2ReadBiosPage3(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                              uint32_t selector) {
    return readStandard(handle, kPageTypeBios, 3, buffer, size, selector);
}

uint32_t XolLib2ReadBiosPage4(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                              uint32_t selector) {
    return readStandard(handle, kPageTypeBios, 4, buffer, size, selector);
}

uint32_t XolLib2ReadSasIoUnitPage0(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                   uint32_t selector) {
    return readExtended(handle, 0, kExtPageTypeSasIoUnit, 0, buffer, size, selector);
}

uint32_t XolLib2ReadSasIoUnitPage1(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                   uint32_t selector) {
    return readExtended(handle, 0, kExtPageTypeSasIoUnit, 1, buffer, size, selector);
}

uint32_t XolLib2ReadSasIoUnitPage5(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                   uint32_t selector) {
    return readExtended(handle, 0, kExtPageTypeSasIoUnit, 5, buffer, size, selector);
}

uint32_t XolLib2ReadLogPage0(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                             uint32_t selector) {
    return readExtended(handle, 0, kExtPageTypeLog, 0, buffer, size, selector);
}

uint32_t XolLib2ReadIoUnitPage11(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                 uint32_t selector) {
    const uint32_t status = requireFamily(handle, true);
    if (status != kXolStatusSuccess)
        return status;
    return readStandard(handle, kPageTypeIoUnit, 11, buffer, size, selector);
}

uint32_t XolLib2ReadSasIoUnitPage4(const uint32_t* handle, uint8_t* buffer, uint32_t* size,
                                   uint32_t selector) {
    const uint32_t status = requireFamily(handle, false);
    if (status != kXolStatusSuccess)
        return status;
    return readExtended(handle, 0, kExtPageTypeSasIoUnit, 4, buffer, size, selector);
}

uint32_t XolLib2ReadSasExpanderPage0(const uint32_t* handle, uint32_t form, uint16_t devHandle,
                                     uint8_t* buffer, uint32_t* size, uint32_t selector) {
    uint32_t address = 0;
    const uint32_t status = handleAddress(form, kPageFormByHandle, devHandle, &address);
    if (status != kXolStatusSuccess)
        return status;
    return readExtended(handle, address, kExtPageTypeSasExpander, 0, buffer, size, selector);
}

uint32_t XolLib2ReadSasExpanderPage1(const uint32_t* handle, uint8_t phy, uint16_t devHandle,
                                     uint8_t* buffer, uint32_t* size, uint32_t selector) {
    const uint32_t address = (kPageFormSecondary << kAddressFormShift) |
                             (static_cast<uint32_t>(phy) << kExpanderPhyShift) | devHandle;
    return readExtended(handle, address, kExtPageTypeSasExpander, 1, buffer, size, selector);
}

uint32_t XolLib2ReadSasDevicePage0(const uint32_t* handle, uint32_t form, uint16_t devHandle,
                                   uint8_t* buffer, uint32_t* size, uint32_t selector) {
    return readDevicePage(handle, 0, form, devHandle, buffer, size, selector);
}

uint32_t XolLib2ReadSasDevicePage1(const uint32_t* handle, uint32_t form, uint16_t devHandle,
                                   uint8_t* buffer, uint32_t* size, uint32_t selector) {
    return readDevicePage(handle, 1, form, devHandle, buffer, size, selector);
}

uint32_t XolLib2ReadSasPhyPage0(const uint32_t* handle, uint32_t form, uint16_t number,
                                uint8_t* buffer, uint32_t* size, uint32_t selector) {
    return readPhyPage(handle, 0, form, number, buffer, size, selector);
}

uint32_t XolLib2ReadSasPhyPage1(const uint32_t* handle, uint32_t form, uint16_t number,
                                uint8_t* buffer, uint32_t* size, uint32_t selector) {
    return readPhyPage(handle, 1, form, number, buffer, size, selector);
}

uint32_t XolLib2ReadEnclosurePage0(const uint32_t* handle, uint32_t form, uint16_t devHandle,
                                   uint8_t* buffer, uint32_t* size, uint32_t selector) {
    uint32_t address = 0;
    const uint32_t status = handleAddress(form, kPageFormSecondary, devHandle, &address);
    if (status != kXolStatusSuccess)
        return status;
    return readExtended(handle, address, kExtPageTypeEnclosure, 0, buffer, size, selector);
}

uint32_t XolLib2WalkPages(const uint32_t* handle, uint8_t pageType, uint8_t extPageType,
                          uint32_t bufferSize, uint32_t handleOffset, XolPageVisitor visit,
                          void* context) {
    if (visit == nullptr || bufferSize < handleOffset + 2)
        return kXolStatusInvalidArgument;
    ByteBuffer page;
    if (!page.allocate(bufferSize))
        return kXolStatusNoMemory;
    // Handles already visited: a controller whose list loops back ends the walk
    // instead of holding it forever.
    ByteBuffer seen;
    if (!seen.allocate(0x10000 / 8))
        return kXolStatusNoMemory;
    uint32_t next = kPageWalkStartHandle;
    for (;;) {
        std::memset(page.data(), 0, bufferSize);
        uint32_t size = bufferSize;
        const uint32_t status = XolLib2ReadConfigPage(handle, next, pageType, 0, extPageType,
                                                      kPageSelectorCurrent, page.data(), &size);
        if (status == kXolStatusConfigNoPage)
            return kXolStatusSuccess;
        if (status != kXolStatusSuccess)
            return status;
        // A page naming a handle already visited is the list looping back:
        // it ends the walk before it is visited twice.
        next = getLe16(page.data(), handleOffset);
        const uint8_t bit = static_cast<uint8_t>(1u << (next % 8));
        if ((seen[next / 8] & bit) != 0)
            break;
        seen[next / 8] |= bit;
        if (const uint32_t stop = visit(context, page.data(), bufferSize); stop != 0)
            return stop;
    }
    return kXolStatusSuccess;
}
