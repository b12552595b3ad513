#include "sg_ioctl.h"

#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace qemu {

namespace {

constexpr size_t kMinCdb = 6;
constexpr size_t kMaxCdb = 252;
constexpr uint8_t kDriverSense = 0x08;
constexpr int kReservedSize = 32768;
// SG_DXFER_UNKNOWN of the kernel header, missing from glibc's <scsi/sg.h>.
constexpr int kDxferUnknown = -5;

std::string hexBytes(const uint8_t* bytes, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += byte;
    }
    return text;
}

std::string nodeName(int sgNumber) {
    return "sg" + std::to_string(sgNumber);
}

bool knownDirection(int direction) {
    return direction == SG_DXFER_NONE || direction == SG_DXFER_TO_DEV ||
           direction == SG_DXFER_FROM_DEV || direction == SG_DXFER_TO_FROM_DEV ||
           direction == kDxferUnknown;
}

// The data of a scatter-gather request is gathered into one buffer for the
// model and scattered back afterwards.
class DataBuffer {
  public:
    explicit DataBuffer(sg_io_hdr_t* header) : header_(header) {
        if (header->iovec_count == 0)
            return;
        const auto* iov = static_cast<const sg_iovec_t*>(header->dxferp);
        for (unsigned i = 0; i < header->iovec_count; ++i) {
            const auto* base = static_cast<const uint8_t*>(iov[i].iov_base);
            gathered_.insert(gathered_.end(), base, base + iov[i].iov_len);
        }
        gathered_.resize(header->dxfer_len);
    }

    uint8_t* data() {
        if (header_->iovec_count == 0)
            return static_cast<uint8_t*>(header_->dxferp);
        return gathered_.data();
    }

    void scatter() {
        if (header_->iovec_count == 0)
            return;
        const auto* iov = static_cast<const sg_iovec_t*>(header_->dxferp);
        size_t offset = 0;
        for (unsigned i = 0; i < header_->iovec_count && offset < gathered_.size(); ++i) {
            const size_t n = std::min(iov[i].iov_len, gathered_.size() - offset);
            std::memcpy(iov[i].iov_base, gathered_.data() + offset, n);
            offset += n;
        }
    }

  private:
    sg_io_hdr_t* const header_;
    std::vector<uint8_t> gathered_;
};

int sgIo(SgNode& node, int sgNumber, sg_io_hdr_t* header, EmuServices& services) {
    if (header->interface_id != 'S')
        return -ENOSYS;
    if (header->cmdp == nullptr || header->cmd_len < kMinCdb || header->cmd_len > kMaxCdb) {
        return -EMSGSIZE;
    }
    if (!knownDirection(header->dxfer_direction))
        return -EINVAL;
    const bool hasData = header->dxfer_direction != SG_DXFER_NONE && header->dxfer_len > 0;
    if (hasData && header->dxferp == nullptr)
        return -EFAULT;

    DataBuffer buffer(header);
    ScsiRequest request;
    request.cdb = header->cmdp;
    request.cdbLength = header->cmd_len;
    request.direction = header->dxfer_direction;
    request.data = hasData ? buffer.data() : nullptr;
    request.dataLength = hasData ? header->dxfer_len : 0;
    request.timeoutMs = header->timeout;

    ScsiResult result;
    try {
        node.execute(request, &result);
    } catch (const std::exception& e) {
        services.logLine(nodeName(sgNumber) + " model failure: " + e.what());
        return -EIO;
    }
    if (hasData)
        buffer.scatter();

    const size_t senseLength = std::min(result.senseLength, sizeof result.sense);
    size_t senseWritten = 0;
    if (header->sbp != nullptr && header->mx_sb_len > 0) {
        senseWritten = std::min<size_t>(header->mx_sb_len, senseLength);
        std::memcpy(header->sbp, result.sense, senseWritten);
    }
    header->status = result.status;
    header->masked_status = static_cast<unsigned char>((result.status >> 1) & 0x7f);
    header->msg_status = 0;
    header->sb_len_wr = static_cast<unsigned char>(senseWritten);
    header->host_status = result.hostStatus;
    header->driver_status =
        static_cast<unsigned short>(result.driverStatus | (senseLength > 0 ? kDriverSense : 0));
    header->resid = static_cast<int>(std::min<size_t>(result.residual, request.dataLength));
    header->duration = 0;
    header->info = (header->status != 0 || header->host_status != 0 || header->driver_status != 0)
                       ? SG_INFO_CHECK
                       : SG_INFO_OK;

    std::string line = nodeName(sgNumber) + " cdb " + hexBytes(header->cmdp, header->cmd_len) +
                       " dir " + std::to_string(header->dxfer_direction) + " len " +
                       std::to_string(request.dataLength) + " -> status 0x" +
                       hexBytes(&header->status, 1) + " resid " + std::to_string(header->resid);
    if (senseLength > 0)
        line += " sense " + hexBytes(result.sense, senseLength);
    services.logLine(line);
    return 0;
}

}  // namespace

int sgIoctl(SgNode& node, int sgNumber, unsigned long request, void* argument,
            EmuServices& services) {
    if (argument == nullptr)
        return -EFAULT;
    int result = 0;
    switch (request) {
        case SG_IO:
            return sgIo(node, sgNumber, static_cast<sg_io_hdr_t*>(argument), services);
        case SG_GET_VERSION_NUM:
            *static_cast<int*>(argument) = kSgVersionNum;
            break;
        case SG_GET_SCSI_ID: {
            auto* id = static_cast<struct sg_scsi_id*>(argument);
            std::memset(id, 0, sizeof *id);
            id->host_no = node.hostNumber();
            id->channel = node.channel();
            id->scsi_id = node.scsiId();
            id->lun = node.lun();
            id->scsi_type = node.peripheralType();
            id->h_cmd_per_lun = 1;
            id->d_queue_depth = 1;
            break;
        }
        case SCSI_IOCTL_GET_IDLUN: {
            // dev_id packs id, lun, channel and host a byte each.
            auto* idlun = static_cast<int*>(argument);
            idlun[0] = (node.scsiId() & 0xff) | ((node.lun() & 0xff) << 8) |
                       ((node.channel() & 0xff) << 16) | ((node.hostNumber() & 0xff) << 24);
            idlun[1] = node.hostNumber();
            break;
        }
        case SG_EMULATED_HOST:
            *static_cast<int*>(argument) = 0;
            break;
        case SG_GET_RESERVED_SIZE:
            *static_cast<int*>(argument) = kReservedSize;
            break;
        case SG_SET_RESERVED_SIZE:
        case SG_SET_TIMEOUT:
            break;
        default:
            result = -EINVAL;
            break;
    }
    char line[96];
    std::snprintf(line, sizeof line, "ioctl 0x%lx -> %d", request, result);
    services.logLine(nodeName(sgNumber) + " " + line);
    return result;
}

}  // namespace qemu
