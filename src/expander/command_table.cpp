#include "expander/cfg.h"
#include "expander/dl.h"
#include "expander/erase.h"
#include "expander/healthlogs.h"
#include "expander/phy.h"
#include "expander/reset.h"
#include "expander/route.h"
#include "expander/sasaddr.h"
#include "expander/scan.h"
#include "expander/show.h"
#include "expander/trace.h"
#include "expander/ul.h"
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
    {"trace", "Prints the expander trace contents", expanderTraceUsage, 1, expanderTraceCommand},
    {"healthlogs", "Prints the expander health logs", expanderHealthLogsUsage, 1,
     expanderHealthLogsCommand},
    {"cfg", "Reads configuration pages", expanderCfgUsage, 1, expanderCfgCommand},
    {"sasaddr", "Gets or sets the expander SAS address", expanderSasAddressUsage, 1,
     expanderSasAddressCommand},
    {"route", "Prints route table attributes", expanderRouteUsage, 1, expanderRouteCommand},
    {"ul", "Uploads the image into file", expanderUlUsage, 1, expanderUlCommand},
    {"dl", "Downloads the image into Expander", expanderDlUsage, 1, expanderDlCommand},
    {"erase", "Erases the flash regions", expanderEraseUsage, 1, expanderEraseCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};
