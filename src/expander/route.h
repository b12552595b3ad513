// Expander `route`: reads the 2048 route table entries through the route
// window and prints the used ones with the phys they lead to.
#pragma once

#include <cstdint>

// 0 after the listing; 1 for arguments, without an expander, when an entry
// cannot be read in 10 attempts, or when the phy count cannot be read.
uint32_t expanderRouteCommand(uint32_t count, char** words);
uint32_t expanderRouteUsage();
