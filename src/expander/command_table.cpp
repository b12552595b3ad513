#include "shell/command.h"

// Commands of an expander target, in the order help lists them.
const CommandEntry kExpanderCommands[] = {
    {nullptr, nullptr, nullptr, 0, nullptr},
};
