#include "expander/dl.h"
#include "expander/erase.h"
#include "expander/show.h"
#include "expander/ul.h"
#include "shell/command.h"

// Commands of an expander target, in the order help lists them.
const CommandEntry kExpanderCommands[] = {
    {"show", "Shows FW/Manufacturing/Temperature information", expanderShowUsage, 1,
     expanderShowCommand},
    {"ul", "Uploads the image into file", expanderUlUsage, 1, expanderUlCommand},
    {"dl", "Downloads the image into Expander", expanderDlUsage, 1, expanderDlCommand},
    {"erase", "Erases the flash regions", expanderEraseUsage, 1, expanderEraseCommand},
    {nullptr, nullptr, nullptr, 0, nullptr},
};
