// Requests the controller runs on its drives besides SCSI IO: task
// management, the enclosure processor's slot status (kept across runs) and
// SATA passthrough (IDENTIFY DEVICE; any other command ends with an error FIS).
#include <algorithm>

#include "ctl_controller.h"

namespace qemu::ctl {
namespace {

constexpr uint16_t kIocStatusDeviceNotThere = 0x0043;
constexpr size_t kTaskRequestSize = 52;
constexpr size_t kTaskReplySize = 28;
constexpr size_t kEnclosureRequestSize = 32;
constexpr size_t kEnclosureReplySize = 32;
constexpr size_t kSataRequestSize = 48;
constexpr size_t kSataReplySize = 48;
constexpr uint8_t kAtaIdentify = 0xEC;
constexpr uint8_t kFisRegisterH2D = 0x27;
constexpr uint8_t kFisRegisterD2H = 0x34;

void startReply(Bytes* reply, size_t size, uint8_t function) {
    reply->assign(size, 0);
    (*reply)[2] = static_cast<uint8_t>(size / 4);
    (*reply)[3] = function;
}

// ATA strings: space padded, the two bytes of each word swapped.
void putAtaText(uint8_t* words, size_t firstWord, size_t wordCount, const std::string& text) {
    for (size_t i = 0; i < wordCount * 2; ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        words[firstWord * 2 + (i ^ 1)] = static_cast<uint8_t>(c);
    }
}

}  // namespace

void Controller::taskManagement(const uint8_t* frame, size_t length, Bytes* reply) {
    startReply(reply, kTaskReplySize, kFunctionTaskManagement);
    Bytes& r = *reply;
    const uint8_t type = length >= kTaskRequestSize ? frame[5] : 0;
    if (length != kTaskRequestSize || type == 0 || type == 4 || type > 10) {
        set16(r, 14, kIocStatusInvalidField);
        return;
    }
    r[5] = type;
    if (driveByHandle(le16(frame, 0)) == nullptr) {
        set16(r, 14, kIocStatusDeviceNotThere);
        return;
    }
    r[4] = 0;         // task management function complete
    set32(r, 20, 0);  // no commands were outstanding
}

void Controller::enclosureProcessor(const uint8_t* frame, size_t length, Bytes* reply) {
    startReply(reply, kEnclosureReplySize, kFunctionEnclosure);
    Bytes& r = *reply;
    const uint8_t action = length >= kEnclosureRequestSize ? frame[4] : 0xFF;
    if (length != kEnclosureRequestSize || action > 1 || frame[5] != 1) {
        set16(r, 14, kIocStatusInvalidField);
        return;
    }
    const uint16_t slot = le16(frame, 28);
    const uint16_t enclosure = le16(frame, 30);
    const auto occupied = std::find_if(drives_.begin(), drives_.end(), [&](const LiveDrive& d) {
        const uint16_t e = d.setup.link < 0 ? 1 : static_cast<uint16_t>(2 + d.setup.link);
        return e == enclosure && d.setup.phy == slot;
    });
    if (occupied == drives_.end()) {
        set16(r, 14, kIocStatusInvalidField);
        return;
    }
    const uint32_t key = (static_cast<uint32_t>(enclosure) << 16) | slot;
    if (action == 0) {
        slotStatus_[key] = le32(frame, 12);
        saveSlotStatus();
    }
    const auto it = slotStatus_.find(key);
    set32(r, 20, it != slotStatus_.end() ? it->second : 0x00000001);  // device installed
}

void Controller::sataPassthrough(const uint8_t* frame, size_t length, const FrameIo& io,
                                 Bytes* reply) {
    startReply(reply, kSataReplySize, kFunctionSataPassthrough);
    Bytes& r = *reply;
    if (length != kSataRequestSize || frame[28] != kFisRegisterH2D) {
        set16(r, 14, kIocStatusInvalidField);
        return;
    }
    const LiveDrive* d = driveByHandle(le16(frame, 0));
    if (d == nullptr || d->setup.profile.kind != drive::DriveKind::Sata) {
        set16(r, 14, kIocStatusDeviceNotThere);
        return;
    }
    const uint32_t dataLength = le32(frame, 24);
    r[20] = kFisRegisterD2H;
    if (frame[30] == kAtaIdentify && dataLength >= 512 && io.dataInLength >= 512 &&
        io.dataIn != nullptr) {
        uint8_t words[512] = {};
        putAtaText(words, 10, 10, d->setup.profile.serial);
        putAtaText(words, 23, 4, d->setup.profile.revision);
        putAtaText(words, 27, 20, d->setup.profile.product);
        put16(words, 217 * 2, d->setup.profile.rotationRate);
        std::copy(words, words + sizeof words, io.dataIn);
        r[22] = 0x50;  // ready, no error
        set32(r, 44, 512);
        return;
    }
    r[22] = 0x51;  // error: command aborted
    r[23] = 0x04;
}

void Controller::loadSlotStatus() {
    Bytes saved;
    if (!services_.loadState(setup_.stateKey + "-slots", &saved))
        return;
    for (size_t off = 0; off + 8 <= saved.size(); off += 8)
        slotStatus_[le32(saved.data(), off)] = le32(saved.data(), off + 4);
}

void Controller::saveSlotStatus() {
    Bytes out(slotStatus_.size() * 8, 0);
    size_t off = 0;
    for (const auto& [key, value] : slotStatus_) {
        put32(out.data(), off, key);
        put32(out.data(), off + 4, value);
        off += 8;
    }
    services_.saveState(setup_.stateKey + "-slots", out);
}

}  // namespace qemu::ctl
