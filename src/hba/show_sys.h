// `show -sys`: the operating-system device name of every device behind the
// selected adapter.
#pragma once

#include <cstdint>

#include "targets/adapter_record.h"

// Prints the device block; 0 on success, 1 after reporting a failure.
uint32_t showSystemDevices(AdapterRecord* adapter);
