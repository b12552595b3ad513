// Resetting the controller and waiting for it: the library's hard reset
// returns at once, while the controller refuses requests for a while.
#pragma once

#include <cstdint>

struct AdapterRecord;

// XolLib2HardReset, then after 2 s IOC Facts once a second for up to 60 s.
// 0 when a reply without a flagged IOC status came (it replaces
// adapter->iocFacts); otherwise the last library status, or the last IOC
// status when the controller answered with one (1 if neither says more).
uint32_t resetAdapterAndWait(AdapterRecord* adapter);
