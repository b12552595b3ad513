// The driver's event log of one IOC: the newest `eventEntries` records of
// 200 bytes (u32 code, u32 sequence number, 192 data bytes), each logged only
// while its code's bit is set in the event mask. Saved with the mask.
#include <algorithm>
#include <cerrno>

#include "ctl_controller.h"

namespace qemu::ctl {
namespace {

constexpr unsigned long kRequestEventQuery = 0xC0204C15;
constexpr unsigned long kRequestEventEnable = 0xC01C4C16;
constexpr unsigned long kRequestEventReport = 0xC0D44C17;

constexpr size_t kHeader = 12;
constexpr size_t kRecordSize = 200;
constexpr size_t kRecordData = 8;
constexpr uint32_t kStateMagic = 0x31564551;  // "QEV1"

void append32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

void Controller::logEvent(uint32_t code, const Bytes& data) {
    if (code >= 128 || (eventMask_[code / 32] & (1u << (code % 32))) == 0)
        return;
    Bytes record(kRecordSize, 0);
    put32(record.data(), 0, code);
    put32(record.data(), 4, eventSequence_++);
    std::copy_n(data.begin(), std::min(data.size(), kRecordSize - kRecordData),
                record.begin() + kRecordData);
    events_.push_back(std::move(record));
    if (events_.size() > setup_.eventEntries)
        events_.erase(events_.begin(), events_.end() - setup_.eventEntries);
    saveEvents();
}

int Controller::eventRequest(unsigned long request, uint8_t* arg) {
    const uint32_t size = le32(arg, 8);
    switch (request) {
        case kRequestEventQuery:
            put16(arg, 12, std::min<uint32_t>(setup_.eventEntries, 0xFFFF));
            put16(arg, 14, 0);
            for (size_t i = 0; i < 4; ++i)
                put32(arg, 16 + 4 * i, eventMask_[i]);
            return 0;
        case kRequestEventEnable:
            for (size_t i = 0; i < 4; ++i)
                eventMask_[i] = le32(arg, 12 + 4 * i);
            saveEvents();
            return 0;
        case kRequestEventReport: {
            const size_t room = (size - kHeader) / kRecordSize;
            const size_t count = std::min(room, events_.size());
            std::fill(arg + kHeader, arg + size, 0);
            for (size_t i = 0; i < count; ++i)
                std::copy(events_[i].begin(), events_[i].end(), arg + kHeader + i * kRecordSize);
            return 0;
        }
        default:
            return -ENOTTY;
    }
}

void Controller::loadEvents() {
    Bytes blob;
    if (services_.loadState(setup_.stateKey + "-events", &blob) && blob.size() >= 28 &&
        get32(blob, 0) == kStateMagic) {
        for (size_t i = 0; i < 4; ++i)
            eventMask_[i] = get32(blob, 4 + 4 * i);
        eventSequence_ = get32(blob, 20);
        const uint32_t count = get32(blob, 24);
        size_t at = 28;
        for (uint32_t n = 0; n < count && at + kRecordSize <= blob.size(); ++n) {
            events_.emplace_back(blob.begin() + static_cast<long>(at),
                                 blob.begin() + static_cast<long>(at + kRecordSize));
            at += kRecordSize;
        }
        return;
    }
    // First start: every event enabled, one "device added" per device (the
    // NVMe devices first, as they come first in handle order).
    std::fill(std::begin(eventMask_), std::end(eventMask_), 0xFFFFFFFFu);
    auto added = [this](uint16_t handle, uint64_t address) {
        Bytes record(kRecordSize, 0);
        put32(record.data(), 0, kEventDeviceAdded);
        put32(record.data(), 4, eventSequence_++);
        put16(record.data(), kRecordData, handle);
        put64(record.data(), kRecordData + 8, address);
        events_.push_back(std::move(record));
    };
    for (size_t i = 0; i < setup_.nvme.size(); ++i)
        added(nvmeHandle(i), setup_.nvme[i].wwid);
    for (const LiveDrive& d : drives_)
        added(d.handle, d.setup.sasAddress);
    if (events_.size() > setup_.eventEntries)
        events_.erase(events_.begin(), events_.end() - setup_.eventEntries);
}

void Controller::saveEvents() {
    Bytes blob;
    append32(blob, kStateMagic);
    for (const uint32_t word : eventMask_)
        append32(blob, word);
    append32(blob, eventSequence_);
    append32(blob, static_cast<uint32_t>(events_.size()));
    for (const Bytes& record : events_)
        blob.insert(blob.end(), record.begin(), record.end());
    services_.saveState(setup_.stateKey + "-events", blob);
}

}  // namespace qemu::ctl
