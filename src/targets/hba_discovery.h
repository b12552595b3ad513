// The HBA half of discovery: the controller library context, adapter
// enumeration into HBA targets, their table rows and their release. The
// target list calls these; the expander half lives beside it.
#pragma once

#include <cstdint>

struct Target;

// Creates the library context and reads its version record. On failure it
// reports and ends the process with 0x4020000 plus the library status.
void initControllerLibrary();
// Discovers adapters and appends one HBA target per usable adapter (an
// adapter whose information or manufacturing page 5 cannot be read is left
// out after its message). 0 ok, also when there is no adapter ("Unable to
// find any compatible devices in the list." is reported); 1 when IOC Facts
// could not be read (reported; the caller reports the failed discovery).
// Ends the process with 0x5020000 plus the IOCStatus when IOC Facts reports
// one, and with 0x4020000 when memory runs out.
uint32_t discoverHbaTargets();
// Prints the table row of an HBA target (number i, 1-based), reading IOC
// Facts and manufacturing page 5 again; their failures are reported and the
// row is printed all the same (a failing IOC status ends the process).
void printHbaRow(uint32_t i, Target* target);
// Frees the target and its adapter record.
void releaseHbaTarget(Target* target);
