// The HBA that reports the selected expander: the first HBA target, in list
// order, whose controller lists an expander with the same SAS address in its
// SAS Expander pages. Shared by expander scan and encl.
#pragma once

#include <cstdint>

struct Target;

// Checks the command's words and finds the parent. 0 with *hba set; 1 after
// reporting why not (no expander selected, an argument given, no HBA lists
// the expander).
uint32_t findParentHba(uint32_t count, char** words, Target** hba);

// True when SAS Expander page 0 bytes name the SAS address (low word at 12,
// high word at 16); false for a page too short to hold it.
bool expanderPageNames(const uint8_t* page, uint32_t size, uint64_t sasAddress);

// The fields encl prints from SAS Enclosure page 0.
struct EnclosureInfo {
    uint32_t logicalIdHigh = 0;
    uint32_t logicalIdLow = 0;
    uint16_t handle = 0;
    uint16_t slots = 0;
    uint16_t startSlot = 0;
    uint8_t level = 0;
    uint16_t sepHandle = 0;
};
inline constexpr uint32_t kEnclosurePageFields = 32;  // bytes holding every field
// False, info untouched, for a page shorter than kEnclosurePageFields.
bool decodeEnclosurePage(const uint8_t* page, uint32_t size, EnclosureInfo* info);
