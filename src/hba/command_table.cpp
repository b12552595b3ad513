#include "hba/cfg.h"
#include "hba/dl.h"
#include "hba/erase.h"
#include "hba/ioc.h"
#include "hba/scan.h"
#include "hba/show.h"
#include "hba/ul.h"
#include "shell/command.h"

// Commands of an HBA target, in the order help lists them.
const CommandEntry kHbaCommands[] = {
    {"show", "Shows FW/Board/Temperature/Other informations", hbaShowUsage, 1, hbaShowCommand},
    {"scan", "Scan & Display the topology information", hbaScanUsage, 1, hbaScanCommand},
    {"ioc", "Changes the IO Unit and SAS IO unit settings of HBA from NVSRAM/persistent region",
     hbaIocUsage, 1, hbaIocCommand},
    {"cfg", "Read/Write configuration pages", hbaCfgUsage, 1, hbaCfgCommand},
    {"ul", "Uploads the image into file", hbaUlUsage, 1, hbaUlCommand},
    {"dl", "Downloads the image into HBA", dlUsage, 1, dlCommand},
    {"erase", "Erases the flash regions", hbaEraseUsage, 1, hbaEraseCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};
