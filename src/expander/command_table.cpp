#include "expander/cfg.h"
#include "expander/healthlogs.h"
#include "expander/route.h"
#include "expander/sasaddr.h"
#include "expander/show.h"
#include "expander/trace.h"
#include "shell/command.h"

// Commands of an expander target, in the order help lists them.
const CommandEntry kExpanderCommands[] = {
    {"show", "Shows FW/Manufacturing/Temperature information", expanderShowUsage, 1,
     expanderShowCommand},
    {"trace", "Prints the expander trace contents", expanderTraceUsage, 1, expanderTraceCommand},
    {"healthlogs", "Prints the expander health logs", expanderHealthLogsUsage, 1,
     expanderHealthLogsCommand},
    {"cfg", "Reads configuration pages", expanderCfgUsage, 1, expanderCfgCommand},
    {"sasaddr", "Gets or sets the expander SAS address", expanderSasAddressUsage, 1,
     expanderSasAddressCommand},
    {"route", "Prints route table attributes", expanderRouteUsage, 1, expanderRouteCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};
