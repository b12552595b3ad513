// Names for the numbers the expander transport sorts a SCSI command by:
// SCSI status bytes, sense keys and codes, the driver's status flags, the
// peripheral type of an expander, and the transport's own results.
#pragma once

#include <cstdint>

// SCSI status byte.
inline constexpr uint8_t kScsiStatusGood = 0x00;
inline constexpr uint8_t kScsiStatusCheckCondition = 0x02;
inline constexpr uint8_t kScsiStatusConditionMet = 0x04;
inline constexpr uint8_t kScsiStatusBusy = 0x08;
inline constexpr uint8_t kScsiStatusReservationConflict = 0x18;
inline constexpr uint8_t kScsiStatusTaskSetFull = 0x28;

// Sense keys and additional sense codes the retry rules look at.
inline constexpr uint8_t kSenseKeyIllegalRequest = 0x05;
inline constexpr uint8_t kSenseKeyUnitAttention = 0x06;
inline constexpr uint8_t kAscPowerOnOrReset = 0x29;
inline constexpr uint8_t kAscCommandSequenceError = 0x2C;

// Driver status flag: sense data were returned. Every other bit is an error.
inline constexpr uint16_t kDriverStatusSense = 0x08;

// SCSI peripheral device type of an enclosure services device (an expander).
inline constexpr int kPeripheralEnclosureServices = 13;

// Results of sending one command.
inline constexpr uint32_t kCommandOk = 0;
inline constexpr uint32_t kCommandFailed = 1;
inline constexpr uint32_t kCommandRetry = 2;
inline constexpr uint32_t kCommandBusy = 3;

// SCSI command opcodes used with expanders.
inline constexpr uint8_t kOpInquiry = 0x12;
inline constexpr uint8_t kOpWriteBuffer = 0x3B;
inline constexpr uint8_t kOpReadBuffer = 0x3C;
