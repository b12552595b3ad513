// The HBA half of discovery: the controller library context, adapter
// enumeration into HBA targets, their table rows and their release. The
// target list calls these; the expander half lives beside it.
#pragma once

#include <cstdint>

struct Target;

// Creates the library context and reads its version record. On failure it
// reports and ends the process with 0x4020000 plus the library status.
void initControllerLibrary();
// Discovers adapters and appends one HBA target per usable adapter.
// 0 ok (also when there is no adapter: "Unable to find any compatible
// devices in the list." is reported); 1 when enumeration failed.
uint32_t discoverHbaTargets();
// Prints the table row of an HBA target (number i, 1-based).
void printHbaRow(uint32_t i, Target* target);
// Frees the target and its adapter record.
void releaseHbaTarget(Target* target);
