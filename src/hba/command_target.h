// The selected HBA as a command with options sees it.
#pragma once

#include <cstdint>

#include "targets/adapter_record.h"
#include "targets/target_list.h"

// The selected target's adapter for a command that needs at least one option
// word. nullptr after "Please select valid device. Device is not selected."
// when no HBA is selected, or after "Invalid command syntax or unknown
// argument(s) specified." when the command came without an option. *target
// (optional) receives the selected target.
AdapterRecord* adapterForOptions(uint32_t count, Target** target);
