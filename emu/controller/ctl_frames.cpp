// The emulated controller's firmware: adapter identity for the driver, XIF
// frame dispatch (IOC Facts, Port Facts, firmware download and upload in
// both layouts, toolbox clean, IO unit control) and the hard reset cycle.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "ctl_controller.h"
#include "ctl_images.h"

namespace qemu::ctl {
namespace {

constexpr size_t kIocFactsReplySize = 68;
constexpr size_t kPortFactsReplySize = 28;
constexpr size_t kDownloadReplySize = 20;
constexpr size_t kUploadReplySize = 24;
constexpr size_t kToolboxReplySize = 20;
constexpr size_t kGenericReplySize = 20;
constexpr size_t kMaxImageSize = 16u << 20;
constexpr uint32_t kEraseMask = 0xFE000000;

// Firmware transfer layouts: request length, image offset and chunk size
// positions; the classic layout also carries the details length 12 at 22.
struct TransferLayout {
    size_t length;
    size_t offsetField;
    size_t chunkField;
};
constexpr TransferLayout kClassic = {36, 28, 32};
constexpr TransferLayout kXif25 = {32, 24, 28};

size_t replySizeFor(uint8_t function) {
    switch (function) {
        case kFunctionIocFacts:
            return kIocFactsReplySize;
        case kFunctionConfig:
            return 24;
        case kFunctionPortFacts:
            return kPortFactsReplySize;
        case kFunctionFwUpload:
            return kUploadReplySize;
        default:
            return kGenericReplySize;
    }
}

void startReply(Bytes* reply, size_t size, uint8_t function) {
    reply->assign(size, 0);
    (*reply)[2] = static_cast<uint8_t>(size / 4);
    (*reply)[3] = function;
}

}  // namespace

Controller::Controller(ControllerSetup setup, EmuServices& services)
    : setup_(std::move(setup)),
      chip_(chipFor(setup_.deviceId)),
      services_(services),
      faults_(setup_.faults) {
    firmware_ = buildFirmwareImage(setup_);
    backup_ = firmware_;
    boot_ = buildBootImage(setup_);
    others_[6] = buildFillerRegion("QCFG1", 4096, 6);
    others_[7] = buildFillerRegion("QCFG2", 4096, 7);
    others_[8] = buildFillerRegion("QBOOTLOADER", 8192, 8);
    others_[9] = Bytes();
    others_[11] = buildFillerRegion("QTRIVAULT", 2048, 11);
    runningFw_ = setup_.firmwareVersion;
    nvdataDefault_ = setup_.nvdataVersion;
    nvdataPersistent_ = setup_.nvdataPersistentVersion;
    seedRegions();
    const size_t phys = static_cast<size_t>(setup_.phys);
    phyCounters_.assign(phys * 4, 0);
    phyEvents_.assign(phys * 4, 0);
    for (size_t i = 0; i < phys; ++i) {
        const bool attached = linkOfPhy(static_cast<int>(i)) >= 0;
        for (size_t c = 0; c < 4; ++c) {
            phyCounters_[i * 4 + c] = attached ? static_cast<uint32_t>((i + 1) * (c + 1)) : 0;
            phyEvents_[i * 4 + c] = attached ? static_cast<uint32_t>(100 * (i + 1) + c) : 0;
        }
    }
    buildSettingsPages();
    buildDrives();
    loadState();
    loadSlotStatus();
    // A misspelt fault would otherwise pass silently.
    static const char* const kFaultKinds[] = {
        "frameStatus",     "configStatus",       "adapterInfoErrno", "passthroughErrno",
        "hardResetErrno",  "noReturnAfterReset", "uploadSize",       "walkRepeat",
        "flashCorruption", "driverErrno",        "diagFirmwareBusy", "configWriteIgnored"};
    for (const FaultSpec& f : setup_.faults) {
        bool known = false;
        for (const char* kind : kFaultKinds)
            known = known || f.kind == kind;
        if (!known) {
            services_.logLine(setup_.node + " ioc" + std::to_string(setup_.ioc) +
                              ": unknown fault kind '" + f.kind + "' ignored");
        }
    }
}

int Controller::availability() {
    if (dead_)
        return -ENODEV;
    if (!resetting_)
        return 0;
    const bool timeUp = services_.nowNs() >= resetEndNs_;
    const bool patienceUp = setup_.resetRefusals != 0 && refusals_ >= setup_.resetRefusals;
    if (timeUp || patienceUp) {
        resetting_ = false;
        return 0;
    }
    ++refusals_;
    return -EAGAIN;
}

int Controller::adapterInfo(uint8_t* info) {
    if (const FaultSpec* f =
            faults_.fire("adapterInfoErrno", [](const FaultSpec&) { return true; })) {
        return -f->errnoValue;
    }
    put32(info, 12, chip_.adapterType);
    put32(info, 16, 0);
    put32(info, 20, setup_.deviceId);
    put32(info, 24, setup_.revision);
    put32(info, 28, setup_.subsystemDeviceId);
    put32(info, 32, setup_.subsystemVendorId);
    put32(info, 36, 0);
    put32(info, 40, runningFw_);
    putText(info, 48, 32, setup_.driverVersion);
    info[81] = setup_.scsiId;
    put32(info, 84,
          (setup_.pciBus << 8) | ((setup_.pciFunction & 7) << 5) | (setup_.pciDevice & 0x1F));
    return 0;
}

int Controller::passthrough(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply) {
    const uint8_t function = length >= 4 ? frame[3] : 0xFF;
    // With an imageType, only firmware transfers of that region match.
    const bool transfer = function == kFunctionFwUpload || function == kFunctionFwDownload;
    const auto matches = [&](const FaultSpec& x) {
        return (x.function < 0 || x.function == function) &&
               (x.imageType < 0 || (transfer && frame[0] == x.imageType));
    };
    if (const FaultSpec* f = faults_.fire("passthroughErrno", matches))
        return -f->errnoValue;
    if (const FaultSpec* f = faults_.fire("frameStatus", matches)) {
        if (function == kFunctionIocFacts) {
            iocFacts(reply);
        } else {
            startReply(reply, replySizeFor(function), function);
        }
        uint16_t status = static_cast<uint16_t>(f->status & 0x7FFF);
        if (f->logInfo != 0) {
            status |= 0x8000;
            put32(reply->data(), 16, f->logInfo);
        }
        put16(reply->data(), 14, status);
        return 0;
    }
    switch (function) {
        case kFunctionIocFacts:
            iocFacts(reply);
            break;
        case kFunctionConfig:
            config(frame, length, io, reply);
            return 0;  // logs its own line
        case kFunctionPortFacts:
            portFacts(frame, length, reply);
            break;
        case kFunctionFwDownload:
            fwDownload(frame, length, io, reply);
            break;
        case kFunctionFwUpload:
            fwUpload(frame, length, io, reply);
            break;
        case kFunctionToolbox:
            toolbox(frame, length, io, reply);
            break;
        case kFunctionIoUnitControl:
            ioUnitControl(frame, length, reply);
            break;
        case kFunctionScsiIo:
            scsiIo(frame, length, io, reply);
            break;
        case kFunctionTaskManagement:
            taskManagement(frame, length, reply);
            break;
        case kFunctionEnclosure:
            enclosureProcessor(frame, length, reply);
            break;
        case kFunctionSataPassthrough:
            sataPassthrough(frame, length, io, reply);
            break;
        case kFunctionSmpPassthrough:
            smpPassthrough(frame, length, io, reply);
            break;
        default:
            startReply(reply, kGenericReplySize, function);
            put16(reply->data(), 14, kIocStatusInvalidFunction);
            break;
    }
    char line[128];
    std::snprintf(line, sizeof line, "%s ioc%u function 0x%02x length %zu status 0x%04x",
                  setup_.node.c_str(), setup_.ioc, function, length, get16(*reply, 14));
    services_.logLine(line);
    return 0;
}

void Controller::iocFacts(Bytes* reply) {
    startReply(reply, kIocFactsReplySize, kFunctionIocFacts);
    Bytes& r = *reply;
    set16(r, 0,
          setup_.xifVersion >= 0 ? static_cast<uint32_t>(setup_.xifVersion) : chip_.msgVersion);
    r[2] = static_cast<uint8_t>(kIocFactsReplySize / 4);
    set16(r, 4, 0x2A00);  // header version
    r[6] = static_cast<uint8_t>(setup_.ioc);
    set16(r, 12, 0);  // IOC exceptions
    r[20] = 128;      // max chain depth
    r[21] = 4;        // initialised by the host driver
    r[22] = setup_.ports;
    r[23] = chip_.newFamily ? 96 : 16;  // MSI-X vectors
    set16(r, 24, chip_.newFamily ? 9856 : 2000);
    set16(r, 26, setup_.productId);
    set32(r, 28,
          setup_.iocCapabilities >= 0 ? static_cast<uint32_t>(setup_.iocCapabilities)
                                      : (chip_.newFamily ? 0x0002A85C : 0x0000285C));
    set32(r, 32, runningFw_);
    set16(r, 36, 32);  // request frame size in words
    set16(r, 38, 128);
    set16(r, 40, 32);
    set16(r, 42, 1024);
    set16(r, 44, 64);
    set16(r, 46, 64);
    set16(r, 48, 0x0002);  // SCSI initiator
    set16(r, 50, 128);
    set16(r, 52, 4096);
    r[54] = 32;  // reply frame size in words
    r[55] = 0;
    set16(r, 56, 1280);
    set16(r, 58, 1024);
    set16(r, 60, 1);
}

void Controller::portFacts(const uint8_t* frame, size_t length, Bytes* reply) {
    startReply(reply, kPortFactsReplySize, kFunctionPortFacts);
    const uint8_t port = length > 6 ? frame[6] : 0xFF;
    (*reply)[6] = port;
    if (length < 12 || port >= setup_.ports) {  // the ports IOC Facts reports
        set16(*reply, 14, kIocStatusInvalidField);
        return;
    }
    (*reply)[21] = 0x30;  // SAS physical
    set16(*reply, 24, 128);
}

const Bytes* Controller::region(uint8_t imageType) const {
    switch (imageType) {
        case 0:
        case 1:
            return &firmware_;
        case 2:
            return &boot_;
        case 5:
            return &backup_;
        case 10: {
            flashView_.clear();
            for (const Bytes* part : {&others_.at(8), &firmware_, &backup_, &boot_, &others_.at(6),
                                      &others_.at(7), &others_.at(11)}) {
                flashView_.insert(flashView_.end(), part->begin(), part->end());
            }
            return &flashView_;
        }
        default: {
            const auto it = others_.find(imageType);
            return it == others_.end() ? nullptr : &it->second;
        }
    }
}

void Controller::seedRegions() {
    for (const auto& [type, bytes] : setup_.regionSeeds) {
        if (Bytes* r = mutableRegion(type))
            *r = bytes;
    }
    // The running firmware is the seeded one: its header gives the versions.
    FirmwareIdentity id;
    if (setup_.regionSeeds.count(0) != 0 && readFirmwareIdentity(firmware_, &id)) {
        runningFw_ = id.firmwareVersion;
        nvdataDefault_ = id.nvdataVersion;
        nvdataPersistent_ = id.nvdataVersion;
    }
}

void Controller::logTransfer(const char* direction, uint8_t type, uint32_t offset, uint32_t chunk) {
    char line[128];
    std::snprintf(line, sizeof line, "%s ioc%u %s type %u offset %u chunk %u", setup_.node.c_str(),
                  setup_.ioc, direction, type, offset, chunk);
    services_.logLine(line);
}

Bytes* Controller::mutableRegion(uint8_t imageType) {
    if (imageType == 10)
        return nullptr;  // the whole-flash view is read-only
    return const_cast<Bytes*>(region(imageType));
}

void Controller::fwDownload(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply) {
    startReply(reply, kDownloadReplySize, kFunctionFwDownload);
    const TransferLayout& lay = chip_.xif25 ? kXif25 : kClassic;
    const uint8_t type = length > 0 ? frame[0] : 0;
    (*reply)[0] = type;
    auto fail = [&](uint16_t status) {
        staging_.erase(type);
        set16(*reply, 14, status);
    };
    if (length != lay.length || (!chip_.xif25 && frame[22] != 12)) {
        return fail(kIocStatusInvalidField);
    }
    const uint32_t sizeField = le32(frame, 12);
    const uint32_t offset = le32(frame, lay.offsetField);
    const uint32_t chunk = le32(frame, lay.chunkField);
    const bool last = (frame[7] & 0x01) != 0;
    logTransfer("download", type, offset, chunk);
    // Type 1 lands in region 5 until the next reset runs it.
    const uint8_t target = type == 1 ? 5 : type;
    if (target != 5 && target != 2 && target != 6 && target != 7 && target != 8 && target != 11) {
        return fail(kIocStatusInvalidField);
    }
    if (sizeField != chunk || (chunk > 0 && (io.dataOut == nullptr || io.dataOutLength < chunk))) {
        return fail(kIocStatusInvalidField);
    }
    Bytes& stage = staging_[type];
    if (offset == 0)
        stage.clear();
    if (offset != stage.size() || stage.size() + chunk > kMaxImageSize) {
        return fail(kIocStatusInvalidField);
    }
    stage.insert(stage.end(), io.dataOut, io.dataOut + chunk);
    if (!last)
        return;
    if (type == 1 && firmwareHeaderOffset(stage) < 0) {
        return fail(kIocStatusInvalidField);
    }
    // A flash part that stores one byte wrongly: only reading back shows it.
    if (const FaultSpec* f = faults_.fire("flashCorruption", [&](const FaultSpec& x) {
            return x.imageType < 0 || x.imageType == type;
        })) {
        if (f->offset < stage.size())
            stage[f->offset] = static_cast<uint8_t>(~stage[f->offset]);
    }
    *mutableRegion(target) = std::move(stage);
    staging_.erase(type);
    saveRegion(target);
    if (type == 1) {
        pendingFirmware_ = true;
        saveMisc();
    }
}

void Controller::fwUpload(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply) {
    startReply(reply, kUploadReplySize, kFunctionFwUpload);
    const TransferLayout& lay = chip_.xif25 ? kXif25 : kClassic;
    const uint8_t type = length > 0 ? frame[0] : 0;
    (*reply)[0] = type;
    if (length != lay.length || (!chip_.xif25 && frame[22] != 12)) {
        set16(*reply, 14, kIocStatusInvalidField);
        return;
    }
    const Bytes* src = region(type);
    if (src == nullptr || type == 3 || type == 4) {
        set16(*reply, 14, kIocStatusInvalidField);
        return;
    }
    const uint32_t offset = le32(frame, lay.offsetField);
    const uint32_t chunk = le32(frame, lay.chunkField);
    logTransfer("upload", type, offset, chunk);
    set32(*reply, 20, static_cast<uint32_t>(src->size()));
    if (chunk == 0) {
        // Erased or corrupt flash can report any size at all.
        if (const FaultSpec* f = faults_.fire("uploadSize", [&](const FaultSpec& x) {
                return x.imageType < 0 || x.imageType == type;
            })) {
            set32(*reply, 20, f->size);
        }
        return;  // size query
    }
    if (io.dataIn == nullptr || io.dataInLength < chunk || offset > src->size()) {
        set16(*reply, 14, kIocStatusInvalidField);
        return;
    }
    const size_t avail = std::min<size_t>(chunk, src->size() - offset);
    std::copy(src->begin() + offset, src->begin() + static_cast<long>(offset + avail), io.dataIn);
    std::fill(io.dataIn + avail, io.dataIn + chunk, 0);
}

void Controller::eraseRegions(uint32_t flags) {
    auto resetNvram = [&](bool manufacturing) {
        for (auto& [key, page] : settings_) {
            if (page.manufacturing == manufacturing)
                page.nvram = page.defaults;
        }
        savePages();
    };
    auto clear = [&](uint8_t imageType) {
        mutableRegion(imageType)->clear();
        saveRegion(imageType);
    };
    if (flags & 0x80000000)
        clear(8);  // boot services
    if (flags & 0x40000000)
        resetNvram(true);
    if (flags & 0x20000000)
        resetNvram(false);
    if (flags & 0x10000000)
        clear(0);  // current firmware (keeps running until reset)
    if (flags & 0x08000000)
        clear(5);  // backup firmware
    if (flags & 0x04000000)
        clear(2);  // boot image
    if (flags & 0x02000000)
        clear(11);  // trivault
}

void Controller::toolbox(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply) {
    if (length >= 1 && frame[0] == 6)
        return diagCommand(frame, length, io, reply);
    startReply(reply, kToolboxReplySize, kFunctionToolbox);
    (*reply)[0] = length > 0 ? frame[0] : 0;
    if (length < 16 || frame[0] != 0) {  // only the clean tool
        set16(*reply, 14, kIocStatusInvalidField);
        return;
    }
    const uint32_t flags = le32(frame, 12);
    char line[96];
    std::snprintf(line, sizeof line, "%s ioc%u clean flags 0x%08x", setup_.node.c_str(), setup_.ioc,
                  flags);
    services_.logLine(line);
    if (flags == 0 || (flags & ~kEraseMask) != 0) {
        set16(*reply, 14, kIocStatusInvalidField);
        return;
    }
    eraseRegions(flags);
}

void Controller::ioUnitControl(const uint8_t* frame, size_t length, Bytes* reply) {
    startReply(reply, kGenericReplySize, kFunctionIoUnitControl);
    if (length < 44) {
        set16(*reply, 14, kIocStatusInvalidField);
        return;
    }
    const uint8_t op = frame[0];
    (*reply)[0] = op;
    char line[96];
    std::snprintf(line, sizeof line, "%s ioc%u io unit control operation 0x%02x phy %u",
                  setup_.node.c_str(), setup_.ioc, op, frame[14]);
    services_.logLine(line);
    static const uint8_t kOperations[] = {0x02, 0x06, 0x07, 0x08, 0x0B,
                                          0x0D, 0x10, 0x11, 0x12, 0x13};
    if (op < 0x80 &&
        std::find(std::begin(kOperations), std::end(kOperations), op) == std::end(kOperations)) {
        set16(*reply, 14, kIocStatusInvalidField);
        return;
    }
    if (op >= 6 && op <= 8) {
        const uint8_t phy = frame[14];
        if (phy >= setup_.phys) {
            set16(*reply, 14, kIocStatusInvalidField);
            return;
        }
        if (op != 8)
            logEvent(kEventPhyReset, {phy, op});
        if (op == 8) {
            for (size_t c = 0; c < 4; ++c) {
                phyCounters_[phy * 4u + c] = 0;
                phyEvents_[phy * 4u + c] = 0;
            }
        }
    }
}

int Controller::hardReset() {
    if (const FaultSpec* f =
            faults_.fire("hardResetErrno", [](const FaultSpec&) { return true; })) {
        return -f->errnoValue;
    }
    for (auto& [key, page] : settings_)
        page.current = page.nvram;
    staging_.clear();
    if (pendingFirmware_ && firmwareHeaderOffset(backup_) >= 0) {
        firmware_ = backup_;
        saveRegion(0);
    }
    pendingFirmware_ = false;
    if (firmwareHeaderOffset(firmware_) < 0 && firmwareHeaderOffset(backup_) >= 0) {
        firmware_ = backup_;  // boot falls back to the backup copy
        saveRegion(0);
    }
    FirmwareIdentity id;
    if (readFirmwareIdentity(firmware_, &id)) {
        runningFw_ = id.firmwareVersion;
        if (id.nvdataVersion != nvdataDefault_) {
            nvdataDefault_ = id.nvdataVersion;
            nvdataPersistent_ = id.nvdataVersion;
        }
    } else {
        dead_ = true;  // nothing bootable left in the flash
    }
    if (faults_.fire("noReturnAfterReset", [](const FaultSpec&) { return true; }))
        dead_ = true;
    savePages();
    saveMisc();
    logEvent(kEventIocReset, {});
    resetting_ = true;
    refusals_ = 0;
    resetEndNs_ = services_.nowNs() + static_cast<uint64_t>(setup_.resetMs) * 1000000ull;
    char line[96];
    std::snprintf(line, sizeof line, "%s ioc%u hard reset%s", setup_.node.c_str(), setup_.ioc,
                  dead_ ? " (does not come back)" : "");
    services_.logLine(line);
    return 0;
}

int Controller::mapHandle(uint16_t handle, uint32_t* targetId, uint32_t* bus) {
    for (size_t i = 0; i < setup_.nvme.size(); ++i) {
        if (nvmeHandle(i) == handle) {
            *targetId = static_cast<uint32_t>(i);
            *bus = 1;  // PCIe devices sit on their own channel
            return 0;
        }
    }
    for (size_t i = 0; i < drives_.size(); ++i) {
        if (drives_[i].handle != handle)
            continue;
        if (drives_[i].setup.profile.mapErrno != 0)
            return -drives_[i].setup.profile.mapErrno;
        *targetId = static_cast<uint32_t>(i);
        *bus = 0;
        return 0;
    }
    return -ENXIO;
}

}  // namespace qemu::ctl
