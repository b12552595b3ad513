// Seams between the emulator's interposer and its device models. The
// interposer owns paths, descriptors, ioctls and time; the models own device
// behaviour. Models never see the product's headers: their layouts are
// written again from the device documentation, so an offset mistake on one
// side shows up as a test failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace qemu {

// What the emulator offers every model.
class EmuServices {
  public:
    virtual ~EmuServices() = default;
    // Virtual monotonic clock in nanoseconds (real time under --real-time).
    virtual uint64_t nowNs() const = 0;
    // Persistent device state, keyed by a model-chosen name ("exp-<sas>-region-80").
    // loadState: false when nothing was saved. saveState writes atomically.
    virtual bool loadState(const std::string& key, std::vector<uint8_t>* bytes) = 0;
    virtual bool saveState(const std::string& key, const std::vector<uint8_t>& bytes) = 0;
    // One line per emulated request when --log is given; a no-op otherwise.
    virtual void logLine(const std::string& line) = 0;
};

// ---------------------------------------------------------------- SCSI generic

// One SG_IO request as the v3 sg_io_hdr describes it.
struct ScsiRequest {
    const uint8_t* cdb = nullptr;
    size_t cdbLength = 0;
    int direction = 0;  // SG_DXFER_NONE, SG_DXFER_TO_DEV, SG_DXFER_FROM_DEV, ...
    uint8_t* data = nullptr;
    size_t dataLength = 0;
    uint32_t timeoutMs = 0;
};

// What the device answers; the interposer copies it into the sg_io_hdr
// (status, masked_status, sb_len_wr, resid, host_status, driver_status, info)
// as the Linux driver does.
struct ScsiResult {
    uint8_t status = 0;  // SCSI status byte (0 GOOD, 2 CHECK CONDITION, 8 BUSY, ...)
    uint8_t sense[32] = {};
    size_t senseLength = 0;
    size_t residual = 0;
    uint16_t hostStatus = 0;
    uint16_t driverStatus = 0;  // the interposer adds 0x08 (sense) itself when senseLength > 0
};

// One /dev/sgN the emulator answers.
class SgNode {
  public:
    virtual ~SgNode() = default;
    // SG_GET_SCSI_ID fields.
    virtual int hostNumber() const = 0;
    virtual int channel() const = 0;
    virtual int scsiId() const = 0;
    virtual int lun() const = 0;
    virtual int peripheralType() const = 0;
    // Called when a descriptor on this node is opened / closed; open may
    // refuse (return -errno), e.g. while the device is resetting.
    virtual int onOpen() = 0;
    virtual void onClose() = 0;
    virtual void execute(const ScsiRequest& request, ScsiResult* result) = 0;
};

// Every SCSI generic node of the topology (expanders, disks, ...).
class SgTopology {
  public:
    virtual ~SgTopology() = default;
    // The nodes present at the current virtual time, in the order the
    // /sys/class/scsi_generic listing returns them (not necessarily sorted).
    virtual std::vector<std::pair<int, SgNode*>> listNodes() = 0;
};

// Given the whole topology document; reads its "scsi" section (see
// docs/emulator-scsi.md). Defined in emu/expander/.
std::unique_ptr<SgTopology> makeSgTopology(const nlohmann::json& topology, EmuServices& services);

// ---------------------------------------------------------------- controllers

// One controller driver control node (/dev/xol2ctl, ...).
class ControlNode {
  public:
    virtual ~ControlNode() = default;
    // One ioctl on an open descriptor of this node: 0, or -errno to fail it.
    virtual int ioctl(unsigned long request, void* argument) = 0;
};

// The host's node of a disk behind a controller (/dev/sdX): answers SG_IO like
// an sg node and SCSI_IOCTL_GET_IDLUN with its host, channel, id and LUN.
class HostDiskNode : public SgNode {
  public:
    virtual std::string path() const = 0;
};

class ControllerTopology {
  public:
    virtual ~ControllerTopology() = default;
    // The control nodes that exist, by absolute path.
    virtual std::vector<std::pair<std::string, ControlNode*>> nodes() = 0;
    // The disk nodes of the drives behind the controllers.
    virtual std::vector<HostDiskNode*> disks() { return {}; }
    // /proc/scsi/scsi as the kernel would show those disks.
    virtual std::string procScsiText() { return {}; }
    // How /proc/scsi/scsi is present: a file, missing (kernels without it),
    // or a symbolic link to the file.
    enum class ProcScsi { File, Missing, Link };
    virtual ProcScsi procScsiMode() { return ProcScsi::File; }
};

// Given the whole topology document; reads its "controllers" section and the
// expanders of "scsi" (see docs/emulator-controllers.md). Defined in emu/controller/.
std::unique_ptr<ControllerTopology> makeControllerTopology(const nlohmann::json& topology,
                                                           EmuServices& services);

}  // namespace qemu
