#include "hba/dl.h"
#include "shell/command.h"

// Commands of an HBA target, in the order help lists them.
const CommandEntry kHbaCommands[] = {
    {"dl", "Downloads the image into HBA", dlUsage, 1, dlCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};
