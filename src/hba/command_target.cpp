#include "hba/command_target.h"

#include "shell/logger.h"

AdapterRecord* adapterForOptions(uint32_t count, Target** target) {
    Target* selected = currentTarget();
    AdapterRecord* adapter = selected != nullptr ? adapterOf(selected) : nullptr;
    if (adapter == nullptr) {
        logError("Please select valid device. Device is not selected.");
        return nullptr;
    }
    if (count < 2) {
        logError("Invalid command syntax or unknown argument(s) specified.");
        return nullptr;
    }
    if (target != nullptr)
        *target = selected;
    return adapter;
}
