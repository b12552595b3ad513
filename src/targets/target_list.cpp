#include "targets/target_list.h"

#include "shell/logger.h"

namespace {

Target* g_slots[kMaxTargets] = {};
uint32_t g_count = 0;
Target* g_current = nullptr;

}  // namespace

uint32_t discoverAll() {
    releaseAllTargets();
    if (g_count == 0) {
        logError("Discovery failed. Unable to discover any supported device(s).");
        return 1;
    }
    return 0;
}

void rescanExpanders() {}

void releaseAllTargets() {
    for (auto& slot : g_slots)
        slot = nullptr;
    g_count = 0;
    g_current = nullptr;
}

uint32_t appendTarget(Target* target) {
    if (g_count >= kMaxTargets)
        return 1;
    g_slots[g_count++] = target;
    return 0;
}

uint32_t targetCount() {
    return g_count;
}

Target* targetAt(uint32_t index) {
    if (index < 1 || index > g_count)
        return nullptr;
    return g_slots[index - 1];
}

Target* currentTarget() {
    return g_current;
}
void setCurrentTarget(Target* target) {
    g_current = target;
}

uint32_t printTargetTable() {
    logPrintLine("");
    logPrintLine("     %-16s %-21s %-16s", "DeviceId/RevId", "WWID", "FwVersion");
    return 0;
}
