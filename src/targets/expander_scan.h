// The expander half of discovery: walks /sys/class/scsi_generic in listing
// order, probes every sgN node that is an enclosure services device,
// identifies the expander behind it and appends it to the target list.
#pragma once

#include <cstdint>

struct Target;

inline constexpr uint32_t kMaxSgNumber = 4095;

// "sgN" with N made of decimal digits only and N <= 4095; false otherwise.
bool parseSgEntryName(const char* name, uint32_t* number);

// Fills the family, the name and the expander record (firmware version, SAS
// address) from the chip registers and buffer 0. 0 ok; 1 when a read fails
// (transport error, exhausted retries, short transfer); 3 when the chip is
// not one we support.
inline constexpr uint32_t kIdentifyUnknownChip = 3;
uint32_t identifyExpander(Target* target);

// Identifies a probed expander and appends it to the target list, or reports
// why not and destroys it (the list takes ownership either way).
void addExpander(Target* target);

// Probes every node and appends the expanders found. Nodes that cannot be
// opened or are not expanders are skipped silently; one whose identification
// failed on a command is reported with a warning (the numbering changes).
void scanExpanderNodes();
