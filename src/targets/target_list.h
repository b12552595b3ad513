// The numbered list of selectable HBAs and expanders (HBAs first, at most 32)
// and the current target. Full discovery rebuilds it; a rescan refreshes only
// the expanders.
#pragma once

#include <cstdint>

struct CommandEntry;

enum class TransportKind : uint32_t {
    Library = 1,      // HBA reached through the controller library
    ScsiGeneric = 2,  // expander reached through /dev/sgN
};

enum class TargetKind : uint32_t {
    Hba = 1,
    Expander = 2,
    HbaAlt = 3,  // HBA of family 8, 9 or 10
};

struct Target {
    TransportKind transport;
    void* device;  // AdapterRecord (Library) or ExpanderDevice (ScsiGeneric)
    uint32_t family;
    TargetKind kind;
    const CommandEntry* commands;
    char name[256];
};

inline constexpr uint32_t kMaxTargets = 32;

// 0 ok; 1 after reporting why discovery found nothing usable.
uint32_t discoverAll();
void rescanExpanders();
void releaseAllTargets();

// Appends to the next free slot. 0 ok; 1 when all 32 slots are taken (the
// caller reports it and keeps ownership).
uint32_t appendTarget(Target* target);

uint32_t targetCount();
// 1-based; nullptr when out of range.
Target* targetAt(uint32_t index);
Target* currentTarget();
void setCurrentTarget(Target* target);

// Prints the target table; returns 0.
uint32_t printTargetTable();
