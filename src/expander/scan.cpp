#include "expander/scan.h"

#include "expander/expander_access.h"
#include "expander/parent_hba.h"
#include "hba/device_list.h"
#include "hba/scan.h"
#include "shell/logger.h"
#include "targets/adapter_record.h"
#include "targets/expander_device.h"
#include "targets/target_list.h"
#include "xollib/xollib2.h"

uint32_t expanderScanCommand(uint32_t count, char** words) {
    Target* hba = nullptr;
    if (findParentHba(count, words, &hba) != 0)
        return 1;
    const uint64_t sasAddress = expanderOf(currentExpander())->sasAddress;
    logPrintLine("Expander 0x%08x%08x is attached to HBA %s ",
                 static_cast<uint32_t>(sasAddress >> 32), static_cast<uint32_t>(sasAddress),
                 hba->name);
    logPrintLine("Topology view is from HBA %s", hba->name);
    const uint32_t* handle = &adapterOf(hba)->adapterHandle;
    uint32_t devices = 0;
    if (rediscoverAttachedDevices(handle, "Rediscover API failed while getting device count.",
                                  NoDevicesNote::Line, &devices) != 0)
        return 1;
    return printSasDeviceList(handle, devices);
}

// The same text as the HBA's scan: both list the devices of one HBA.
uint32_t expanderScanUsage() {
    return hbaScanUsage();
}
