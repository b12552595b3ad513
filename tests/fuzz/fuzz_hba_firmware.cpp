// Firmware validation reads a file the user names and the controller's flash.
// Input: 4 bytes of controller identity, a 4-byte split, then the file bytes
// followed by the flash bytes.
#include <cstddef>
#include <cstdint>

#include "hba/firmware_image.h"
#include "shell/bytes.h"
#include "shell/logger.h"

namespace {

void quiet(const char*, va_list) {}
const Logger kQuiet = {quiet, quiet, quiet, quiet, quiet, quiet, quiet};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8)
        return 0;
    installLogger(&kQuiet);
    ControllerIdentity ioc;
    ioc.deviceId = getLe16(data, 0);
    ioc.chipRevision = data[2];
    ioc.newestFamily = (data[3] & 1) != 0;
    const size_t rest = size - 8;
    const size_t split = rest == 0 ? 0 : getLe32(data, 4) % (rest + 1);
    const uint8_t* file = data + 8;
    const uint8_t* flash = file + split;
    validateFirmwareFile(file, split, ioc);
    checkNvdataCompatibility(file, split, flash, rest - split, ioc);
    checkFirmwareIdentity(file, split, flash, rest - split, ioc);
    ExtendedImage ext;
    findExtendedImage(file, split, data[3] >> 1, data[2], &ext);
    return 0;
}
