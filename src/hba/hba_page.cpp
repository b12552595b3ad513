#include "hba/hba_page.h"

#include "shell/logger.h"
#include "xollib/xollib2.h"

namespace {

bool selectorValid(uint32_t selector) {
    return selector >= kPageSelectorCurrent && selector <= kPageSelectorNvram;
}

uint32_t failAt(HbaPageStep* step, HbaPageStep where, uint32_t status) {
    if (step != nullptr)
        *step = where;
    return status;
}

}  // namespace

uint32_t fetchHbaPage(const uint32_t* handle, const HbaPageId& id, uint32_t selector,
                      ByteBuffer* page, HbaPageStep* step) {
    if (step != nullptr)
        *step = HbaPageStep::None;
    page->reset();
    if (!selectorValid(selector))
        return failAt(step, HbaPageStep::Header, kXolStatusInvalidArgument);
    uint32_t size = 0;
    uint32_t status = XolLib2ReadConfigPage(handle, id.address, id.type, id.number, id.extType,
                                            kPageSelectorSize, nullptr, &size);
    if (status != kXolStatusSuccess)
        return failAt(step, HbaPageStep::Header, status);
    if (!page->allocate(size))
        return failAt(step, HbaPageStep::Allocate, kXolStatusNoMemory);
    uint32_t got = size;
    status = XolLib2ReadConfigPage(handle, id.address, id.type, id.number, id.extType, selector,
                                   page->data(), &got);
    if (status == kXolStatusSuccess && got < size)
        status = kXolStatusFailure;
    if (status != kXolStatusSuccess) {
        page->reset();
        return failAt(step, HbaPageStep::Read, status);
    }
    return kXolStatusSuccess;
}

uint32_t readHbaPage(const uint32_t* handle, const HbaPageId& id, uint32_t selector,
                     ByteBuffer* page) {
    if (!selectorValid(selector)) {
        logError("ASSERT!! Invalid page action.");
        page->reset();
        return kXolStatusInvalidArgument;
    }
    HbaPageStep step = HbaPageStep::None;
    const uint32_t status = fetchHbaPage(handle, id, selector, page, &step);
    if (step == HbaPageStep::Allocate)
        logError("Unable to allocate memory.");
    return status;
}

uint32_t writeHbaPage(const uint32_t* handle, const HbaPageId& id, uint32_t selector,
                      ByteBuffer* page) {
    if (!selectorValid(selector))
        return kXolStatusInvalidArgument;
    uint32_t size = static_cast<uint32_t>(page->size());
    return XolLib2WriteConfigPage(handle, id.address, id.type, id.number, id.extType, selector,
                                  page->data(), &size);
}
