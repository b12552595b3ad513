// The one place that talks SG_IO: it fills the request header, issues it on
// an open SCSI generic descriptor and sorts what came back into an OS error,
// transport (host/driver) status, SCSI status, sense and residual. Expander
// commands only ever see the verdict, never the request header.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ScsiDirection : uint32_t {
    ToDevice,    // WRITE BUFFER
    FromDevice,  // READ BUFFER, INQUIRY
};

inline constexpr size_t kSenseBufferSize = 32;
inline constexpr uint32_t kScsiTimeoutMs = 600000;

// Everything one SG_IO request told us.
struct ScsiOutcome {
    int osError = 0;  // errno of a refused request; 0 when the request ran
    uint8_t scsiStatus = 0;
    uint16_t hostStatus = 0;
    uint16_t driverStatus = 0;
    uint8_t senseLength = 0;  // bytes of sense written
    uint8_t sense[kSenseBufferSize] = {};
    int32_t residual = 0;
};

// Sense fields in fixed (0x70/0x71) or descriptor (0x72/0x73) format; zero
// for a field beyond the sense bytes the device returned.
uint8_t senseKey(const ScsiOutcome& outcome);
uint8_t senseCode(const ScsiOutcome& outcome);
uint8_t senseQualifier(const ScsiOutcome& outcome);
// True when a fixed-format sense carries filemark, EOM or ILI beside its key.
bool senseFlagsSet(const ScsiOutcome& outcome);

// The SG_IO request itself: ioctl(fd, SG_IO, header) unless a test or fuzz
// target installs a scripted device (nullptr restores the real one).
struct sg_io_hdr;
using SgIoIssuer = int (*)(int fd, sg_io_hdr* header);
void setSgIoIssuer(SgIoIssuer issuer);

// Sends one command block with its data buffer and waits for it.
ScsiOutcome issueScsiCommand(int fd, const uint8_t* cdb, uint8_t cdbLength, ScsiDirection direction,
                             uint8_t* data, uint32_t dataLength);

// Sorts an outcome:
//   kCommandOk     the command completed (GOOD or CONDITION MET);
//   kCommandRetry  a unit attention after a reset (both directions), or a
//                  write refused with ILLEGAL REQUEST 0x2C/0x00;
//   kCommandBusy   BUSY or TASK SET FULL: worth sending again after a pause;
//   kCommandFailed anything else.
// *headerFailure is set when the failure must be reported as an IO header
// failure: the request was refused, the transport reported an error, or the
// SCSI status was neither success nor CHECK CONDITION.
uint32_t sortScsiOutcome(const ScsiOutcome& outcome, ScsiDirection direction, bool* headerFailure);

// Bytes moved by a successful command: the data length less the residual for
// reads (never below 0 nor above the length), the whole length for writes.
uint32_t transferredBytes(const ScsiOutcome& outcome, ScsiDirection direction, uint32_t dataLength);
