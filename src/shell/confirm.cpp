#include "shell/confirm.h"

#include <cstdio>

#include "shell/logger.h"
#include "shell/prompt.h"

Confirmation askToContinue(const char* question) {
    for (;;) {
        logPrint("%s", question);
        const uint32_t answer = askYesNo();
        if (answer == 0)
            return Confirmation::Yes;
        if (answer == 1)
            return Confirmation::No;
        // askYesNo calls end of input invalid; asking again would never end.
        if (std::feof(consoleIn()))
            return Confirmation::EndOfInput;
    }
}
