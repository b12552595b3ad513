#include "shell/confirm.h"

#include <cstdio>

#include "shell/logger.h"
#include "shell/prompt.h"

uint32_t confirmYesNo(const char* question) {
    for (;;) {
        logPrint("%s", question);
        const uint32_t answer = askYesNo();
        if (answer == kConfirmYes || answer == kConfirmNo)
            return answer;
        if (std::feof(consoleIn()) != 0)
            return kConfirmNoAnswer;
    }
}
