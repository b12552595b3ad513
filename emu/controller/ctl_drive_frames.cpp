// The drives behind the emulated controller: their handles and SAS Device
// pages, and the SCSI IO request that carries a command block to a drive (or,
// translated, to an NVMe device).
#include <algorithm>
#include <cerrno>

#include "ctl_controller.h"
#include "ctl_page_ids.h"

namespace qemu::ctl {
namespace {

constexpr size_t kScsiIoRequestSize = 96;
constexpr size_t kScsiIoReplySize = 52;
constexpr size_t kMaxCdb = 32;
constexpr uint16_t kIocStatusScsiError = 0x0044;
constexpr uint16_t kIocStatusDataUnderrun = 0x0045;
constexpr uint16_t kIocStatusDeviceNotThere = 0x0043;
constexpr uint32_t kControlWrite = 0x01000000;
constexpr uint32_t kControlRead = 0x02000000;
constexpr uint32_t kControlMask = 0x03000000;

// Device info words of the drives (end device, target protocols).
constexpr uint32_t kSasDriveInfo = 0x00000401;
constexpr uint32_t kSataDriveInfo = 0x00000281;
constexpr uint32_t kSepInfo = 0x00004401;
constexpr uint32_t kDirectAttached = 0x00000800;

uint32_t deviceInfoOf(const DriveSetup& d) {
    uint32_t info = kSasDriveInfo;
    if (d.profile.kind == drive::DriveKind::Sata)
        info = kSataDriveInfo;
    else if (d.profile.kind == drive::DriveKind::Enclosure)
        info = kSepInfo;
    return d.link < 0 ? info | kDirectAttached : info;
}

}  // namespace

void Controller::buildDrives() {
    uint16_t next = static_cast<uint16_t>(setup_.phys + 1 + static_cast<int>(setup_.links.size()) +
                                          static_cast<int>(setup_.nvme.size()));
    for (const DriveSetup& d : setup_.drives)
        drives_.push_back(LiveDrive{d, drive::Drive(d.profile), next++});
    for (const NvmeSpec& n : setup_.nvme) {
        drive::DriveProfile profile = drive::defaultDrive(drive::DriveKind::Nvme, n.wwid);
        profile.vendor = n.vendor.substr(0, 8);
        profile.product = n.product.substr(0, 16);
        profile.revision = n.revision.substr(0, 4);
        nvmeDrives_.emplace_back(profile);
    }
}

const Controller::LiveDrive* Controller::driveByHandle(uint16_t handle) const {
    for (const LiveDrive& d : drives_) {
        if (d.handle == handle)
            return &d;
    }
    return nullptr;
}

uint16_t Controller::nextDriveHandle(uint32_t after) const {
    for (const LiveDrive& d : drives_) {
        if (d.handle > after)
            return d.handle;
    }
    return 0;
}

uint16_t Controller::sepHandle(size_t link) const {
    for (const LiveDrive& d : drives_) {
        if (d.setup.link == static_cast<int>(link) &&
            d.setup.profile.kind == drive::DriveKind::Enclosure) {
            return d.handle;
        }
    }
    return 0;
}

Bytes Controller::drivePage(uint8_t type, uint8_t ext, const LiveDrive& d) const {
    Bytes p = newPage(type, ext, 0, 56);
    const DriveSetup& s = d.setup;
    const bool direct = s.link < 0;
    // Enclosure 1 is the controller's own (slots are its phys); 2 + link an
    // expander's (slots are its phys), as Enclosure page 0 says.
    set16(p, 8, static_cast<uint32_t>(s.phy));
    set16(p, 10, direct ? 1u : static_cast<uint32_t>(2 + s.link));
    set64(p, 12, s.sasAddress);
    set16(p, 20,
          direct ? static_cast<uint32_t>(s.phy + 1) : expanderHandle(static_cast<size_t>(s.link)));
    p[22] = static_cast<uint8_t>(s.phy);
    p[23] = s.profile.accessStatus;
    set16(p, 24, d.handle);
    set32(p, 28, deviceInfoOf(s));
    set16(p, 32, 0x0001);  // device present
    p[34] = static_cast<uint8_t>(direct ? s.phy : s.link);
    p[35] = 1;
    set64(p, 36, s.sasAddress);
    return p;
}

int Controller::mapTarget(uint32_t targetId, uint32_t bus, uint16_t* handle) {
    if (bus == 1 && targetId < setup_.nvme.size()) {
        *handle = nvmeHandle(targetId);
        return 0;
    }
    if (bus == 0 && targetId < drives_.size() && drives_[targetId].setup.profile.mapErrno == 0) {
        *handle = drives_[targetId].handle;
        return 0;
    }
    return -ENXIO;
}

void Controller::scsiIo(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply) {
    reply->assign(kScsiIoReplySize, 0);
    Bytes& r = *reply;
    r[2] = static_cast<uint8_t>(kScsiIoReplySize / 4);
    r[3] = kFunctionScsiIo;
    if (length != kScsiIoRequestSize) {
        set16(r, 14, kIocStatusInvalidField);
        return;
    }
    const uint16_t handle = le16(frame, 0);
    const uint32_t dataLength = le32(frame, 28);
    const uint16_t cdbLength = le16(frame, 36);
    const uint32_t control = le32(frame, 60) & kControlMask;
    const bool read = control == kControlRead;
    const bool write = control == kControlWrite;
    // The frame must agree with itself and with the buffers that came with it.
    const bool dataOk = (control == 0 && dataLength == 0) ||
                        (read && io.dataInLength >= dataLength) ||
                        (write && io.dataOutLength >= dataLength);
    if (cdbLength == 0 || cdbLength > kMaxCdb || frame[20] != 24 || !dataOk ||
        control == kControlMask) {
        set16(r, 14, kIocStatusInvalidField);
        return;
    }
    drive::Drive* target = nullptr;
    for (LiveDrive& d : drives_) {
        if (d.handle == handle)
            target = &d.model;
    }
    for (size_t i = 0; i < nvmeDrives_.size() && target == nullptr; ++i) {
        if (nvmeHandle(i) == handle)
            target = &nvmeDrives_[i];
    }
    if (target == nullptr) {
        set16(r, 14, kIocStatusDeviceNotThere);
        return;
    }
    const drive::ScsiOutcome outcome =
        target->execute(frame + 64, cdbLength, read ? io.dataIn : nullptr, read ? dataLength : 0);
    r[12] = outcome.status;
    set32(r, 20, static_cast<uint32_t>(outcome.transferred));
    if (outcome.status != 0) {
        const size_t room = std::min<size_t>(frame[18], io.senseLength);
        const size_t n = io.sense != nullptr ? std::min(room, outcome.sense.size()) : 0;
        std::copy(outcome.sense.begin(), outcome.sense.begin() + static_cast<long>(n), io.sense);
        set32(r, 24, static_cast<uint32_t>(n));
        r[13] = n != 0 ? 0x01 : 0x00;  // autosense valid
        set16(r, 14, kIocStatusScsiError);
        return;
    }
    set16(r, 14, outcome.transferred < dataLength ? kIocStatusDataUnderrun : 0);
}

std::vector<size_t> Controller::hostDisks() const {
    std::vector<size_t> out;
    for (size_t i = 0; i < drives_.size(); ++i) {
        const drive::DriveKind kind = drives_[i].setup.profile.kind;
        if ((kind == drive::DriveKind::Sas || kind == drive::DriveKind::Sata) &&
            drives_[i].setup.profile.accessStatus != 7 && drives_[i].setup.profile.mapErrno == 0) {
            out.push_back(i);
        }
    }
    return out;
}

drive::ScsiOutcome Controller::hostCommand(size_t index, const uint8_t* cdb, size_t cdbLength,
                                           uint8_t* data, size_t dataLength) {
    return drives_[index].model.execute(cdb, cdbLength, data, dataLength);
}

}  // namespace qemu::ctl
