#include "targets/controller_models.h"

const ControllerModel ControllerModelTable[] = {
    {0x0410, 0x01, "QS-9200-8e", 1},
    {0x0411, 0x02, "QS-9210-8i", 2},
    {0x0520, 0x02, "QS-9300-8i", 3},
    {0x0521, 0x01, "QS-9305-16i", 4},
    {0x0521, 0x02, "QS-9305-24i", 5},
    {0x0528, 0x01, "QS-9311-8i", 6},
    {0x0528, 0x03, "QS-9316-16e", 7},
    {0x0630, 0x01, "QS-9400-8i", 8},
    {0x0631, 0x01, "QS-9400-16i", 9},
    {0x0418, 0x01, "QS-FA116", 16},
    {0, 0, "", 0},
};

const ControllerModel* findControllerModel(uint32_t deviceId, uint32_t revision) {
    for (const ControllerModel* row = ControllerModelTable; row->deviceId != 0; ++row) {
        if (row->deviceId == deviceId && row->revision == revision)
            return row;
    }
    return nullptr;
}
