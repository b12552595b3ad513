// Host diagnostic buffers as the driver keeps them per IOC: one buffer per
// unique ID (0xABCDEF00 OR its type), registered with a size, released by
// the IOC, read by offset, unregistered. The contents follow the rule of
// images/host_buffers.h; only the descriptors are saved.
#include <cerrno>
#include <cstring>

#include "ctl_controller.h"
#include "images/host_buffers.h"

namespace qemu::ctl {
namespace {

constexpr unsigned long kRequestRegister = 0xC0784C1A;
constexpr unsigned long kRequestRelease = 0xC0104C1B;
constexpr unsigned long kRequestUnregister = 0xC0104C1C;
constexpr unsigned long kRequestQuery = 0xC07C4C1D;
constexpr unsigned long kRequestRead = 0xC0204C1E;

constexpr size_t kPayload = 12;  // after IOC number, port and size
constexpr uint32_t kIdBase = 0xABCDEF00;
constexpr uint32_t kMinimumSize = 16384;  // a buffer must be larger
constexpr uint16_t kFlagRegistered = 0x1;
constexpr uint16_t kFlagValidData = 0x2;
constexpr uint16_t kFlagFirmwareAccess = 0x4;
constexpr uint32_t kStateMagic = 0x31424851;  // "QHB1"
constexpr size_t kWords = 23;

bool isBufferId(uint32_t id) {
    return (id & 0xFFFFFF00u) == kIdBase;
}

void append32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int Controller::driverFault(unsigned long request) {
    const FaultSpec* f = faults_.fire("driverErrno", [request](const FaultSpec& fault) {
        return fault.request < 0 || static_cast<unsigned long>(fault.request) == request;
    });
    return f != nullptr ? -f->errnoValue : 0;
}

int Controller::hostBufferRequest(unsigned long request, uint8_t* arg) {
    uint8_t* p = arg + kPayload;
    switch (request) {
        case kRequestRegister: {
            const uint8_t type = p[1];
            const uint32_t size = le32(p, 100);
            const uint32_t id = le32(p, 104);
            if (id != (kIdBase | type) || size <= kMinimumSize || size % 4 != 0)
                return -EINVAL;
            if (hostBuffers_.count(id) != 0)
                return -EBUSY;
            if (size > setup_.diagMaxBytes)
                return -ENOMEM;
            HostBuffer buffer;
            buffer.type = type;
            buffer.size = size;
            buffer.flagsWord = le32(p, 4);
            for (size_t i = 0; i < kWords; ++i)
                buffer.words[i] = le32(p, 8 + 4 * i);
            buffer.appFlags = kFlagRegistered;
            hostBuffers_[id] = buffer;
            saveHostBuffers();
            return 0;
        }
        case kRequestQuery: {
            const uint32_t id = le32(p, 108);
            if (id != (kIdBase | p[1]))
                return -EINVAL;
            const auto it = hostBuffers_.find(id);
            if (it == hostBuffers_.end())
                return -ENOENT;
            uint16_t flags = it->second.appFlags;
            if (faults_.fire("diagFirmwareBusy", [](const FaultSpec&) { return true; }))
                flags |= kFlagFirmwareAccess;
            put16(p, 2, flags);
            put32(p, 100, it->second.size);
            return 0;
        }
        case kRequestRead: {
            const uint32_t offset = le32(p, 4);
            const uint32_t length = le32(p, 8);
            const uint32_t id = le32(p, 12);
            if (!isBufferId(id))
                return -EINVAL;
            const auto it = hostBuffers_.find(id);
            if (it == hostBuffers_.end())
                return -ENOENT;
            const uint64_t end = uint64_t{offset} + length;
            if (end > it->second.size)
                return -EINVAL;
            for (uint32_t i = 0; i < length; ++i)
                p[16 + i] = images::hostBufferByte(id, it->second.size, size_t{offset} + i);
            return 0;
        }
        case kRequestRelease:
        case kRequestUnregister: {
            const uint32_t id = le32(p, 0);
            if (!isBufferId(id))
                return -EINVAL;
            const auto it = hostBuffers_.find(id);
            if (it == hostBuffers_.end())
                return -ENOENT;
            if (request == kRequestRelease)
                it->second.appFlags |= kFlagValidData;
            else
                hostBuffers_.erase(it);
            saveHostBuffers();
            return 0;
        }
        default:
            return -ENOTTY;
    }
}

void Controller::loadHostBuffers() {
    Bytes blob;
    if (!services_.loadState(setup_.stateKey + "-hostbuffers", &blob) ||
        get32(blob, 0) != kStateMagic)
        return;
    const uint32_t count = get32(blob, 4);
    constexpr size_t kRecord = 4 * (5 + kWords);
    size_t at = 8;
    for (uint32_t n = 0; n < count && at + kRecord <= blob.size(); ++n, at += kRecord) {
        HostBuffer buffer;
        const uint32_t id = get32(blob, at);
        buffer.type = static_cast<uint8_t>(get32(blob, at + 4));
        buffer.size = get32(blob, at + 8);
        buffer.flagsWord = get32(blob, at + 12);
        buffer.appFlags = static_cast<uint16_t>(get32(blob, at + 16));
        for (size_t i = 0; i < kWords; ++i)
            buffer.words[i] = get32(blob, at + 20 + 4 * i);
        hostBuffers_[id] = buffer;
    }
}

void Controller::saveHostBuffers() {
    Bytes blob;
    append32(blob, kStateMagic);
    append32(blob, static_cast<uint32_t>(hostBuffers_.size()));
    for (const auto& [id, buffer] : hostBuffers_) {
        append32(blob, id);
        append32(blob, buffer.type);
        append32(blob, buffer.size);
        append32(blob, buffer.flagsWord);
        append32(blob, buffer.appFlags);
        for (const uint32_t word : buffer.words)
            append32(blob, word);
    }
    services_.saveState(setup_.stateKey + "-hostbuffers", blob);
}

}  // namespace qemu::ctl
