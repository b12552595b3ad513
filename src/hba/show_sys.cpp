// show -sys: the operating-system device name of every device behind the
// adapter, found by asking each SCSI node for its address.
#include "hba/show_sys.h"

#include "hba/device_list.h"
#include "hba/device_nodes.h"
#include "hba/names.h"
#include "shell/bytes.h"
#include "shell/logger.h"
#include "xollib/xollib2.h"

uint32_t showSystemDevices(AdapterRecord* adapter) {
    const uint32_t* handle = &adapter->adapterHandle;
    uint32_t count = 0;
    if (rediscoverAttachedDevices(handle, "Rediscover API failed while getting device count",
                                  NoDevicesNote::Warning, &count) != 0)
        return 1;
    // The host number is the IOC number, which the library hands out only in
    // the adapter name.
    uint32_t host = 0;
    if (adapter->adapterInfo.size() >= kAdapterInfoAdapterName + kAdapterInfoAdapterNameSize) {
        hostNumberFromName(
            reinterpret_cast<const char*>(adapter->adapterInfo.data() + kAdapterInfoAdapterName),
            kAdapterInfoAdapterNameSize, &host);
    }
    // One pass over the nodes serves every device of the list.
    DeviceNodeIndex nodes;
    nodes.build();
    logPrintLine("\n%-3s %-3s %-3s %-10s %s", "B", "T", "L", "Type",
                 "Operating system device name");
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t info[kXolDeviceInfoSize] = {};
        uint32_t size = sizeof info;
        if (XolLib2GetDeviceInfo(i, handle, nullptr, info, &size) != kXolStatusSuccess) {
            logError("Unable to get the device info.");
            return 1;
        }
        const uint32_t bus = getLe32(info, kDeviceInfoBus);
        const uint32_t target = getLe32(info, kDeviceInfoTargetId);
        const uint32_t lun = info[kDeviceInfoLun];
        logPrint("%-3x %-3x %-3x ", bus, target, lun);
        logPrint("%-10s ", deviceTypeNameOf(info));
        char found[1024] = {};
        if (nodes.find(host, bus, target, lun, found, sizeof found))
            logPrint("%s\n", found);
        else
            logPrint("Scsi%d: %x %x %x\n", static_cast<int>(info[kDeviceInfoPort]), bus, target,
                     lun);
    }
    return 0;
}
