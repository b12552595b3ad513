// Building SCSI answers: fixed-format sense and the copy of a data-in reply
// into the caller's buffer with the residual the driver reports.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "emu_api.h"

namespace qemu::expander {

inline constexpr uint8_t kStatusGood = 0x00;
inline constexpr uint8_t kStatusCheckCondition = 0x02;
inline constexpr uint8_t kStatusBusy = 0x08;

inline constexpr uint8_t kKeyNotReady = 0x02;
inline constexpr uint8_t kKeyHardwareError = 0x04;
inline constexpr uint8_t kKeyIllegalRequest = 0x05;
inline constexpr uint8_t kKeyUnitAttention = 0x06;

inline constexpr uint8_t kAscInvalidOpcode = 0x20;
inline constexpr uint8_t kAscLbaOutOfRange = 0x21;
inline constexpr uint8_t kAscInvalidFieldInCdb = 0x24;
inline constexpr uint8_t kAscInvalidFieldInParameters = 0x26;
inline constexpr uint8_t kAscPowerOnReset = 0x29;
inline constexpr uint8_t kAscCommandSequenceError = 0x2C;

inline constexpr uint16_t kHostNoConnect = 0x01;  // DID_NO_CONNECT

// CHECK CONDITION with fixed-format sense (response code 0x70, 18 bytes).
// fieldPointer >= 0 names the offending CDB byte (sense-key specific field).
inline void checkCondition(ScsiResult* r, uint8_t key, uint8_t asc, uint8_t ascq,
                           int fieldPointer = -1) {
    r->status = kStatusCheckCondition;
    std::memset(r->sense, 0, sizeof r->sense);
    r->sense[0] = 0x70;
    r->sense[2] = key & 0x0F;
    r->sense[7] = 10;
    r->sense[12] = asc;
    r->sense[13] = ascq;
    if (fieldPointer >= 0) {
        r->sense[15] = 0xC0;  // SKSV, C/D = command
        r->sense[16] = static_cast<uint8_t>(fieldPointer >> 8);
        r->sense[17] = static_cast<uint8_t>(fieldPointer);
    }
    r->senseLength = 18;
}

inline void invalidField(ScsiResult* r, int fieldPointer) {
    checkCondition(r, kKeyIllegalRequest, kAscInvalidFieldInCdb, 0, fieldPointer);
}

// Copies at most `limit` bytes of the reply (an allocation length) into the
// request's buffer; residual = buffer length - bytes moved.
inline void sendData(const ScsiRequest& req, ScsiResult* r, const uint8_t* reply, size_t size,
                     size_t limit) {
    size_t room = req.data != nullptr ? req.dataLength : 0;
    size_t moved = std::min({size, limit, room});
    if (moved > 0) {
        std::memcpy(req.data, reply, moved);
    }
    r->residual = req.dataLength - moved;
}

inline void sendData(const ScsiRequest& req, ScsiResult* r, const std::vector<uint8_t>& reply,
                     size_t limit) {
    sendData(req, r, reply.data(), reply.size(), limit);
}

}  // namespace qemu::expander
