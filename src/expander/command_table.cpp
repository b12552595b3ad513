#include "expander/phy.h"
#include "expander/reset.h"
#include "expander/scan.h"
#include "expander/show.h"
#include "shell/command.h"

// Commands of an expander target, in the order help lists them.
const CommandEntry kExpanderCommands[] = {
    {"phy", "Shows phy related information", expanderPhyUsage, 1, expanderPhyCommand},
    {"show", "Shows FW/Manufacturing/Temperature information", expanderShowUsage, 1,
     expanderShowCommand},
    {"reset", "Resets the target/counters/phy", expanderResetUsage, 1, expanderResetCommand},
    {"scan", "Scans & Displays the topology information", expanderScanUsage, 1,
     expanderScanCommand},
    {"encl", "Displays enclosure information", expanderEnclUsage, 1, expanderEnclCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};
