// The HBA boards the program knows by PCI device ID and revision: their model
// names and family codes (8 to 10 are the newest generation).
#pragma once

#include <cstdint>

struct ControllerModel {
    uint32_t deviceId;  // 0 ends the table
    uint32_t revision;
    char name[256];
    uint32_t family;
};

extern const ControllerModel ControllerModelTable[];

// The first row for the device ID and revision; nullptr when there is none.
const ControllerModel* findControllerModel(uint32_t deviceId, uint32_t revision);
