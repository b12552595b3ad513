// The tables `phy` prints: the attached-device table (-da), the EDFB table
// (-edfb), the error counters (-err) and the link rate table (-speed). Row
// formatting is pure, so fuzzers and tests call it on any record; the
// printers collect each phy through phy_info and print its row.
#pragma once

#include <cstddef>
#include <cstdint>

#include "expander/phy_info.h"

inline constexpr size_t kPhyRowSize = 192;
inline constexpr uint32_t kErrorCounterCount = 4;

// One row each, without the line end.
void formatDaRow(const PhyInfoRecord& record, char* out, size_t size);
void formatEdfbRow(const PhyInfoRecord& record, char* out, size_t size);
void formatErrorRow(uint32_t phy, const uint32_t counters[kErrorCounterCount], char* out,
                    size_t size);
void formatLinkRateRow(const PhyInfoRecord& record, uint8_t programmedMin, uint8_t programmedMax,
                       char* out, size_t size);

// The printers. 0 ok, 1 after the failure was reported (the messages of the
// phy command).
// -da: a row for every phy, cleared after a failed collection; 1 when any
// collection failed or the phy count cannot be read.
uint32_t printAttachedDeviceTable(PhyReadContext* context);
// -edfb: ends at the first phy that cannot be collected.
uint32_t printEdfbTable(PhyReadContext* context);
// -err: ends at the first counter block that cannot be read.
uint32_t printErrorCounterTable(PhyReadContext* context);
// Link rate table of phys first..end-1 (the context holds the phy count);
// ends at the first phy that cannot be collected or queried.
uint32_t printLinkRateTable(PhyReadContext* context, uint32_t first, uint32_t end);
