#include "hba/cfg.h"
#include "hba/cli.h"
#include "hba/db.h"
#include "hba/dl.h"
#include "hba/erase.h"
#include "hba/ioc.h"
#include "hba/locate.h"
#include "hba/logs.h"
#include "hba/phy.h"
#include "hba/reset.h"
#include "hba/scan.h"
#include "hba/show.h"
#include "hba/ul.h"
#include "shell/command.h"

// Commands of an HBA target, in the order help lists them.
const CommandEntry kHbaCommands[] = {
    {"phy", "Shows various Phy information from Current region", hbaPhyUsage, 1, hbaPhyCommand},
    {"show", "Shows FW/Board/Temperature/Other informations", hbaShowUsage, 1, hbaShowCommand},
    {"reset", "Resets the target/counters/phy", hbaResetUsage, 1, hbaResetCommand},
    {"scan", "Scan & Display the topology information", hbaScanUsage, 1, hbaScanCommand},
    {"ioc", "Changes the IO Unit and SAS IO unit settings of HBA from NVSRAM/persistent region",
     hbaIocUsage, 1, hbaIocCommand},
    {"cfg", "Read/Write configuration pages", hbaCfgUsage, 1, hbaCfgCommand},
    {"db", "Diagnostic buffer operations", hbaDbUsage, 1, hbaDbCommand},
    {"ul", "Uploads the image into file", hbaUlUsage, 1, hbaUlCommand},
    {"dl", "Downloads the image into HBA", dlUsage, 1, dlCommand},
    {"erase", "Erases the flash regions", hbaEraseUsage, 1, hbaEraseCommand},
    {"cli", "Diagnostic CLI tool box command", hbaCliUsage, 1, hbaCliCommand},
    {"logs", "Log data of events logged by IOC", hbaLogsUsage, 1, hbaLogsCommand},
    {"locate", "Locate LED ON or OFF for a drive", hbaLocateUsage, 1, hbaLocateCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};
