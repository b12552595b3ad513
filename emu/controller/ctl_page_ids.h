// Page types, extended page types and device information words shared by
// the controller's page builders.
#pragma once

#include <cstdint>

namespace qemu::ctl {

constexpr uint8_t kTypeIoUnit = 0x00;
constexpr uint8_t kTypeIoc = 0x01;
constexpr uint8_t kTypeBios = 0x02;
constexpr uint8_t kTypeManufacturing = 0x09;
constexpr uint8_t kTypeExtended = 0x0F;
constexpr uint8_t kExtSasIoUnit = 0x10;
constexpr uint8_t kExtSasExpander = 0x11;
constexpr uint8_t kExtSasDevice = 0x12;
constexpr uint8_t kExtSasPhy = 0x13;
constexpr uint8_t kExtLog = 0x14;
constexpr uint8_t kExtEnclosure = 0x15;
constexpr uint8_t kExtPcieIoUnit = 0x1B;
constexpr uint8_t kExtPcieDevice = 0x1D;
constexpr uint8_t kExtPcieLink = 0x1E;

constexpr uint32_t kControllerDeviceInfo = 0x00000071;  // SSP/STP/SMP initiator, end device
constexpr uint32_t kExpanderDeviceInfo = 0x00000102;    // SMP target, edge expander
constexpr uint32_t kNvmeDeviceInfo = 0x00000013;        // NVMe, direct attached
constexpr int kPcieLinks = 4;

}  // namespace qemu::ctl
