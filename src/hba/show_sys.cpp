#include "hba/show_sys.h"

// Placeholder until the device listing lands: prints nothing.
uint32_t showSystemDevices(AdapterRecord* /*adapter*/) {
    return 0;
}
