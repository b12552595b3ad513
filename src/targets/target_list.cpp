#include "targets/target_list.h"

#include "shell/logger.h"
#include "shell/node_access.h"
#include "shell/parse.h"
#include "targets/expander_device.h"
#include "targets/expander_scan.h"
#include "targets/hba_discovery.h"

namespace {

Target* g_slots[kMaxTargets] = {};
uint32_t g_count = 0;
Target* g_current = nullptr;

bool isHbaKind(const Target* target) {
    return target->kind == TargetKind::Hba || target->kind == TargetKind::HbaAlt;
}

void releaseTarget(Target* target) {
    if (isHbaKind(target)) {
        releaseHbaTarget(target);
    } else if (ExpanderDevice* device = expanderOf(target)) {
        device->destroy(target);
    } else {
        delete target;
    }
}

}  // namespace

uint32_t discoverAll() {
    initControllerLibrary();
    releaseAllTargets();
    if (discoverHbaTargets() != 0) {
        logError("Discovery failed. Unable to get adapter information.");
        return 1;
    }
    scanExpanderNodes();
    if (g_count == 0) {
        // A refused expander node is only known once the scan is done.
        warnPermissionDenied();
        logError("Discovery failed. Unable to discover any supported device(s).");
        return 1;
    }
    return 0;
}

void rescanExpanders() {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < g_count; ++i) {
        Target* target = g_slots[i];
        if (target->kind == TargetKind::Expander) {
            // The current target is a borrowed pointer: never leave it dangling.
            if (target == g_current)
                g_current = nullptr;
            releaseTarget(target);
        } else {
            g_slots[kept++] = target;
        }
    }
    for (uint32_t i = kept; i < g_count; ++i)
        g_slots[i] = nullptr;
    g_count = kept;
    scanExpanderNodes();
}

void releaseAllTargets() {
    for (uint32_t i = 0; i < g_count; ++i) {
        releaseTarget(g_slots[i]);
        g_slots[i] = nullptr;
    }
    g_count = 0;
    g_current = nullptr;
}

uint32_t appendTarget(Target* target) {
    if (target == nullptr || g_count >= kMaxTargets)
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
    for (uint32_t i = 0; i < g_count && i < kMaxTargets; ++i) {
        Target* target = g_slots[i];
        const uint32_t number = i + 1;
        if (isHbaKind(target)) {
            printHbaRow(number, target);
        } else if (const ExpanderDevice* device = expanderOf(target);
                   device != nullptr && target->kind == TargetKind::Expander) {
            const uint32_t v = device->firmwareVersion;
            logPrintLine("%3d) %-16s %-21s %02d.%02d.%02d.%02d", static_cast<int>(number),
                         target->name, formatSasAddress(device->sasAddress),
                         static_cast<int>(v >> 24), static_cast<int>((v >> 16) & 0xFF),
                         static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF));
        } else {
            logPrintLine("%d)   Device not supported. Unknown device family",
                         static_cast<int>(number));
        }
    }
    return 0;
}
