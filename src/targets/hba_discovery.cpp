#include "targets/hba_discovery.h"

#include "shell/logger.h"
#include "targets/target_list.h"

// Until the controller library exists there are no adapters to find.
void initControllerLibrary() {}

uint32_t discoverHbaTargets() {
    logError("Unable to find any compatible devices in the list.");
    return 0;
}

void printHbaRow(uint32_t, Target*) {}

void releaseHbaTarget(Target* target) { delete target; }
