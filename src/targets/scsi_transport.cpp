#include "targets/scsi_transport.h"

#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "targets/scsi_status.h"

uint8_t senseKey(const ScsiOutcome& outcome) {
    return outcome.senseLength == 0 ? 0 : static_cast<uint8_t>(outcome.sense[2] & 0x0F);
}
uint8_t senseCode(const ScsiOutcome& outcome) {
    return outcome.senseLength == 0 ? 0 : outcome.sense[12];
}
uint8_t senseQualifier(const ScsiOutcome& outcome) {
    return outcome.senseLength == 0 ? 0 : outcome.sense[13];
}

ScsiOutcome issueScsiCommand(int fd, const uint8_t* cdb, uint8_t cdbLength, ScsiDirection direction,
                             uint8_t* data, uint32_t dataLength) {
    ScsiOutcome outcome;
    uint8_t command[16] = {};
    const uint8_t length = cdbLength > sizeof command ? sizeof command : cdbLength;
    std::memcpy(command, cdb, length);

    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof header);
    header.interface_id = 'S';
    header.dxfer_direction =
        direction == ScsiDirection::FromDevice ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    header.cmd_len = length;
    header.mx_sb_len = kSenseBufferSize;
    header.dxfer_len = dataLength;
    header.dxferp = data;
    header.cmdp = command;
    header.sbp = outcome.sense;
    header.timeout = kScsiTimeoutMs;

    if (ioctl(fd, SG_IO, &header) < 0) {
        outcome.osError = errno != 0 ? errno : EIO;
        return outcome;
    }
    outcome.scsiStatus = header.status;
    outcome.hostStatus = header.host_status;
    outcome.driverStatus = header.driver_status;
    outcome.senseLength = header.sb_len_wr > kSenseBufferSize ? kSenseBufferSize : header.sb_len_wr;
    outcome.residual = header.resid;
    return outcome;
}

uint32_t sortScsiOutcome(const ScsiOutcome& outcome, ScsiDirection direction, bool* headerFailure) {
    *headerFailure = false;
    if (outcome.osError != 0) {
        *headerFailure = true;
        return kCommandFailed;
    }
    // A command the adapter or driver gave up on (timeout, abort, lost
    // device) never reached a SCSI verdict: its buffer holds nothing.
    if (outcome.hostStatus != 0 || (outcome.driverStatus & ~kDriverStatusSense) != 0) {
        *headerFailure = true;
        return kCommandFailed;
    }
    if (outcome.scsiStatus == kScsiStatusCheckCondition) {
        if (outcome.senseLength == 0)
            return kCommandFailed;
        if (senseKey(outcome) == kSenseKeyUnitAttention &&
            senseCode(outcome) == kAscPowerOnOrReset) {
            return kCommandRetry;
        }
        // Only a plain ILLEGAL REQUEST (no filemark/EOM/ILI flags) is retried.
        if (direction == ScsiDirection::ToDevice && outcome.sense[2] == kSenseKeyIllegalRequest &&
            senseCode(outcome) == kAscCommandSequenceError) {
            return senseQualifier(outcome) == 0 ? kCommandRetry : kCommandFailed;
        }
        return kCommandFailed;
    }
    // BUSY, RESERVATION CONFLICT, TASK SET FULL and the like: the data
    // buffer was not filled.
    if (outcome.scsiStatus != kScsiStatusGood && outcome.scsiStatus != kScsiStatusConditionMet) {
        *headerFailure = true;
        return kCommandFailed;
    }
    return kCommandOk;
}

uint32_t transferredBytes(const ScsiOutcome& outcome, ScsiDirection direction,
                          uint32_t dataLength) {
    if (direction == ScsiDirection::ToDevice)
        return dataLength;
    if (outcome.residual <= 0)
        return dataLength;
    const uint32_t residual = static_cast<uint32_t>(outcome.residual);
    return residual >= dataLength ? 0 : dataLength - residual;
}
