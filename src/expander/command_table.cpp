#include "expander/cfg.h"
#include "expander/route.h"
#include "expander/show.h"
#include "shell/command.h"

// Commands of an expander target, in the order help lists them.
const CommandEntry kExpanderCommands[] = {
    {"show", "Shows FW/Manufacturing/Temperature information", expanderShowUsage, 1,
     expanderShowCommand},
    {"cfg", "Reads configuration pages", expanderCfgUsage, 1, expanderCfgCommand},
    {"route", "Prints route table attributes", expanderRouteUsage, 1, expanderRouteCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};
