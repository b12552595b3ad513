#include "hba/adapter_reset.h"

#include <cstring>

#include "shell/prompt.h"
#include "targets/adapter_record.h"
#include "xollib/xollib2.h"

namespace {

constexpr uint32_t kResetSettleMs = 2000;
constexpr uint32_t kResetPollMs = 1000;
constexpr uint32_t kResetPolls = 60;

}  // namespace

uint32_t resetAdapterAndWait(AdapterRecord* adapter) {
    uint32_t result = XolLib2HardReset(&adapter->adapterHandle);
    if (result != kXolStatusSuccess)
        return result;
    sleepMilliseconds(kResetSettleMs);
    for (uint32_t poll = 0; poll < kResetPolls; ++poll) {
        if (poll > 0)
            sleepMilliseconds(kResetPollMs);
        uint8_t facts[kXolIocFactsReplySize] = {};
        uint32_t length = sizeof facts;
        XolStatusInfo status = {};
        result = XolLib2GetIocFacts(&adapter->adapterHandle, facts, &length, &status);
        if (result != kXolStatusSuccess)
            continue;
        if ((status.flags & kXolStatusFlagIocStatus) != 0) {
            result = status.iocStatus != 0 ? status.iocStatus : kXolStatusFailure;
            continue;
        }
        if (adapter->iocFacts.allocate(kXolIocFactsReplySize))
            std::memcpy(adapter->iocFacts.data(), facts,
                        length < sizeof facts ? length : sizeof facts);
        return kXolStatusSuccess;
    }
    return result;
}
