#include "shell/command.h"

// Commands of an HBA target, in the order help lists them.
const CommandEntry kHbaCommands[] = {
    {nullptr, nullptr, nullptr, 0, nullptr},
};
