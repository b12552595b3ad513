// One emulated IOC: its driver-visible identity, the firmware answering XIF
// request frames, its configuration pages (current, default and NVRAM copies),
// its flash regions and the hard reset cycle. State that a real controller
// keeps across host processes is saved through EmuServices after each change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ctl_bytes.h"
#include "ctl_setup.h"
#include "drive/drive.h"
#include "emu_api.h"

namespace qemu::ctl {

// IOCStatus values the firmware answers with.
constexpr uint16_t kIocStatusSuccess = 0x0000;
constexpr uint16_t kIocStatusInvalidFunction = 0x0001;
constexpr uint16_t kIocStatusInvalidField = 0x0007;
constexpr uint16_t kIocStatusConfigInvalidAction = 0x0020;
constexpr uint16_t kIocStatusConfigInvalidType = 0x0021;
constexpr uint16_t kIocStatusConfigInvalidPage = 0x0022;
constexpr uint16_t kIocStatusConfigInvalidData = 0x0023;

// XIF functions.
constexpr uint8_t kFunctionIocFacts = 0x03;
constexpr uint8_t kFunctionConfig = 0x04;
constexpr uint8_t kFunctionPortFacts = 0x05;
constexpr uint8_t kFunctionFwDownload = 0x09;
constexpr uint8_t kFunctionFwUpload = 0x12;
constexpr uint8_t kFunctionToolbox = 0x17;
constexpr uint8_t kFunctionIoUnitControl = 0x1B;
constexpr uint8_t kFunctionScsiIo = 0x00;
constexpr uint8_t kFunctionTaskManagement = 0x01;
constexpr uint8_t kFunctionEnclosure = 0x18;
constexpr uint8_t kFunctionSataPassthrough = 0x1C;
constexpr uint8_t kFunctionSmpPassthrough = 0x1A;

// Driver event codes of the IOC's event log.
constexpr uint32_t kEventDeviceAdded = 0x0F;
constexpr uint32_t kEventPhyReset = 0x10;  // data: phy, IO unit control operation
constexpr uint32_t kEventIocReset = 0x11;

// The data phase of one passthrough, as the driver hands it over.
struct FrameIo {
    uint8_t* dataIn = nullptr;
    size_t dataInLength = 0;
    const uint8_t* dataOut = nullptr;
    size_t dataOutLength = 0;
    uint8_t* sense = nullptr;
    size_t senseLength = 0;
};

// Counts matching requests per fault so `skip` and `times` work.
class FaultBank final {
  public:
    explicit FaultBank(std::vector<FaultSpec> faults) : faults_(std::move(faults)) {
        counts_.assign(faults_.size(), {0, 0});
    }
    // The first fault of this kind whose filter accepts the request and whose
    // skip/times window is open, or null.
    template <typename Filter>
    const FaultSpec* fire(const std::string& kind, Filter filter) {
        for (size_t i = 0; i < faults_.size(); ++i) {
            const FaultSpec& f = faults_[i];
            if (f.kind != kind || !filter(f))
                continue;
            auto& [seen, fired] = counts_[i];
            if (++seen <= f.skip)
                continue;
            if (f.times >= 0 && fired >= static_cast<uint64_t>(f.times))
                continue;
            ++fired;
            return &f;
        }
        return nullptr;
    }
    bool has(const std::string& kind) const {
        for (const FaultSpec& f : faults_) {
            if (f.kind == kind)
                return true;
        }
        return false;
    }

  private:
    std::vector<FaultSpec> faults_;
    std::vector<std::pair<uint64_t, uint64_t>> counts_;
};

// A configuration page with persistent copies.
struct SettingsPage {
    Bytes defaults;
    Bytes current;
    Bytes nvram;
    bool writable = true;
    bool manufacturing = false;  // erased by the "persistent" toolbox clean flag
};

class Controller final {
  public:
    Controller(ControllerSetup setup, EmuServices& services);
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    const ControllerSetup& setup() const { return setup_; }
    const ChipRow& chip() const { return chip_; }

    // 0 when the IOC answers; -EAGAIN inside the reset window (counts as one
    // refused request); -ENODEV when it never came back.
    int availability();
    // Fills the 92-byte adapter information answer (header already checked).
    int adapterInfo(uint8_t* info);
    // Runs one request frame; `reply` receives the full reply frame.
    // Returns 0 or -errno for an injected driver failure.
    int passthrough(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply);
    int hardReset();
    // Driver handle mapping: 0 with target id and bus, -ENXIO for non-targets.
    int mapHandle(uint16_t handle, uint32_t* targetId, uint32_t* bus);
    // The reverse mapping: 0 with the handle of that target id and bus.
    int mapTarget(uint32_t targetId, uint32_t bus, uint16_t* handle);
    // Host diagnostic buffer requests (register, release, unregister, query,
    // read) on the whole envelope, header checked by the node: 0 or -errno.
    int hostBufferRequest(unsigned long request, uint8_t* arg);
    // Event query, enable and report: 0 or -errno.
    int eventRequest(unsigned long request, uint8_t* arg);
    // A driverErrno fault on this request number: its -errno, or 0.
    int driverFault(unsigned long request);

    // The drives the host sees as SCSI devices (SAS and SATA disks), as
    // indexes of the drive list in handle order; their profile, target id, and
    // one command block sent by the host's SCSI layer.
    std::vector<size_t> hostDisks() const;
    const drive::DriveProfile& driveSpec(size_t index) const {
        return drives_[index].setup.profile;
    }
    uint32_t driveTarget(size_t index) const { return static_cast<uint32_t>(index); }
    drive::ScsiOutcome hostCommand(size_t index, const uint8_t* cdb, size_t cdbLength,
                                   uint8_t* data, size_t dataLength);

    // Exposed for tests and the page builders.
    uint64_t currentWwid() const;
    uint32_t runningFirmwareVersion() const { return runningFw_; }
    const Bytes* region(uint8_t imageType) const;

  private:
    // ---- frames (ctl_frames.cpp)
    void iocFacts(Bytes* reply);
    void portFacts(const uint8_t* frame, size_t length, Bytes* reply);
    void fwDownload(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply);
    void fwUpload(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply);
    void toolbox(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply);
    void ioUnitControl(const uint8_t* frame, size_t length, Bytes* reply);
    // Diagnostic command line (toolbox tool 6, ctl_diag.cpp).
    void diagCommand(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply);
    std::string diagAnswer(const std::string& command) const;
    Bytes* mutableRegion(uint8_t imageType);
    // Replaces built-in regions with the topology's region files.
    void seedRegions();
    // One --log line per transfer request: direction, type, offset, chunk.
    void logTransfer(const char* direction, uint8_t type, uint32_t offset, uint32_t chunk);
    void eraseRegions(uint32_t flags);
    void completeReset();

    // ---- drives (ctl_drive_frames.cpp)
    struct LiveDrive {
        DriveSetup setup;
        drive::Drive model;
        uint16_t handle;
    };
    void buildDrives();
    void scsiIo(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply);
    // ctl_device_requests.cpp
    void taskManagement(const uint8_t* frame, size_t length, Bytes* reply);
    void enclosureProcessor(const uint8_t* frame, size_t length, Bytes* reply);
    void sataPassthrough(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply);
    // ctl_smp.cpp
    void smpPassthrough(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply);
    void loadSlotStatus();
    void saveSlotStatus();
    const LiveDrive* driveByHandle(uint16_t handle) const;
    // SAS Device page 0 of a drive.
    Bytes drivePage(uint8_t type, uint8_t ext, const LiveDrive& d) const;
    // The handle of the enclosure services target of a link (0 when none).
    uint16_t sepHandle(size_t link) const;
    // The next drive handle after `after`, 0 when none.
    uint16_t nextDriveHandle(uint32_t after) const;

    // ---- pages (ctl_pages.cpp)
    void config(const uint8_t* frame, size_t length, const FrameIo& io, Bytes* reply);
    void buildSettingsPages();
    // Builds a status page; returns an IOCStatus (0 or 0x0022).
    uint16_t statusPage(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                        Bytes* page) const;
    // One builder per status page family (ctl_status_pages.cpp).
    using StatusPageBuilder = uint16_t (Controller::*)(uint8_t type, uint8_t ext, uint8_t number,
                                                       uint32_t address, Bytes* page) const;
    uint16_t ioUnit0Page(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                         Bytes* page) const;
    uint16_t ioUnit7Page(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                         Bytes* page) const;
    uint16_t ioc0Page(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                      Bytes* page) const;
    uint16_t sasIoUnit0Page(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                            Bytes* page) const;
    uint16_t sasPhyPage(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                        Bytes* page) const;
    uint16_t sasDevice0Page(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                            Bytes* page) const;
    uint16_t sasExpanderPage(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                             Bytes* page) const;
    uint16_t enclosure0Page(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                            Bytes* page) const;
    // True when a walkRepeat fault naming this extended page type fires: the
    // next-form read answers the object it was asked to go past.
    bool repeatsWalk(uint8_t ext) const;
    uint16_t pcieIoUnit0Page(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                             Bytes* page) const;
    uint16_t pcieDevice0Page(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                             Bytes* page) const;
    uint16_t pcieLink1Page(uint8_t type, uint8_t ext, uint8_t number, uint32_t address,
                           Bytes* page) const;
    bool knownPageType(uint8_t type, uint8_t ext) const;
    Bytes newPage(uint8_t type, uint8_t ext, uint8_t number, size_t size) const;
    const Bytes* settingsCurrent(uint8_t type, uint8_t ext, uint8_t number) const;
    bool phyDisabled(int phy) const;
    int linkOfPhy(int phy) const;
    uint16_t expanderHandle(size_t link) const;
    uint16_t nvmeHandle(size_t index) const;

    // ---- host diagnostic buffers (ctl_host_buffers.cpp)
    struct HostBuffer {
        uint8_t type = 0;
        uint32_t size = 0;
        uint32_t flagsWord = 0;
        uint32_t words[23] = {};
        uint16_t appFlags = 0;
    };
    void loadHostBuffers();
    void saveHostBuffers();
    std::map<uint32_t, HostBuffer> hostBuffers_;  // by unique ID

    // ---- driver event log (ctl_events.cpp)
    // Appends an event when its code is enabled; the oldest falls out of a full log.
    void logEvent(uint32_t code, const Bytes& data);
    void loadEvents();
    void saveEvents();
    uint32_t eventMask_[4] = {};
    uint32_t eventSequence_ = 0;
    std::vector<Bytes> events_;  // 200-byte records, oldest first

    // ---- persistence (ctl_state.cpp)
    void loadState();
    void savePages();
    void saveRegion(uint8_t imageType);
    void saveMisc();

    ControllerSetup setup_;
    const ChipRow& chip_;
    EmuServices& services_;
    mutable FaultBank faults_;  // status pages spend faults too

    std::map<uint32_t, SettingsPage> settings_;
    Bytes firmware_;                    // regions 0 and 1: the current firmware image
    Bytes boot_;                        // region 2: option ROM chain
    Bytes backup_;                      // region 5: receives downloaded firmware
    std::map<uint8_t, Bytes> others_;   // 6, 7, 8, 9, 11
    mutable Bytes flashView_;           // region 10, assembled on demand
    std::map<uint8_t, Bytes> staging_;  // downloads in progress, by image type
    bool pendingFirmware_ = false;
    uint32_t runningFw_ = 0;
    uint32_t nvdataDefault_ = 0;
    uint32_t nvdataPersistent_ = 0;
    std::vector<uint32_t> phyCounters_;  // 4 error counters per phy
    std::vector<uint32_t> phyEvents_;    // 4 event counters per phy

    bool resetting_ = false;
    bool dead_ = false;
    uint64_t resetEndNs_ = 0;
    uint32_t refusals_ = 0;

    std::vector<LiveDrive> drives_;  // after the NVMe devices in handle order
    std::vector<drive::Drive> nvmeDrives_;
    std::map<uint32_t, uint32_t> slotStatus_;  // enclosure << 16 | slot
};

// Page key for the settings map.
constexpr uint32_t pageKey(uint8_t type, uint8_t ext, uint8_t number) {
    return (static_cast<uint32_t>(type) << 16) | (static_cast<uint32_t>(ext) << 8) | number;
}

}  // namespace qemu::ctl
