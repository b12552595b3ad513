#include "expander/show.h"
#include "shell/command.h"

// Commands of an expander target, in the order help lists them.
const CommandEntry kExpanderCommands[] = {
    {"show", "Shows FW/Manufacturing/Temperature information", expanderShowUsage, 1,
     expanderShowCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};
