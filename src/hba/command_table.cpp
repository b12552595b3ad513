#include "hba/scan.h"
#include "shell/command.h"

// Commands of an HBA target, in the order help lists them.
const CommandEntry kHbaCommands[] = {
    {"scan", "Scan & Display the topology information", hbaScanUsage, 1, hbaScanCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};
