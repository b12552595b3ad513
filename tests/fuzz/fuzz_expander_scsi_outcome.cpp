// What an SG_IO request hands back (status, host and driver status, sense,
// residual) sorted into the transport's verdict.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "shell/bytes.h"
#include "targets/scsi_status.h"
#include "targets/scsi_transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10)
        return 0;
    ScsiOutcome outcome;
    outcome.scsiStatus = data[0];
    outcome.hostStatus = getLe16(data, 1);
    outcome.driverStatus = getLe16(data, 3);
    outcome.senseLength = data[5];
    outcome.residual = static_cast<int32_t>(getLe32(data, 6));
    const size_t sense = size - 10 < sizeof outcome.sense ? size - 10 : sizeof outcome.sense;
    std::memcpy(outcome.sense, data + 10, sense);
    for (const ScsiDirection direction : {ScsiDirection::FromDevice, ScsiDirection::ToDevice}) {
        bool headerFailure = false;
        const uint32_t result = sortScsiOutcome(outcome, direction, &headerFailure);
        if (result > kCommandBusy || (headerFailure && result != kCommandFailed))
            __builtin_trap();
        if (transferredBytes(outcome, direction, 256) > 256)
            __builtin_trap();
    }
    return 0;
}
