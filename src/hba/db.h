// HBA `db`: registers, queries, reads, releases and unregisters the
// controller's host diagnostic (trace and snapshot) buffers.
#pragma once

#include <cstdint>

uint32_t hbaDbCommand(uint32_t count, char** words);
uint32_t hbaDbUsage();
