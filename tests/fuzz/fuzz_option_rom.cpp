// BIOS validation, the component walk and the merge read a file the user
// names and the controller's BIOS region. Input: a 4-byte split, then the
// file bytes followed by the flash bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hba/option_rom.h"
#include "shell/bytes.h"
#include "shell/logger.h"

namespace {

void quiet(const char*, va_list) {}
const Logger kQuiet = {quiet, quiet, quiet, quiet, quiet, quiet, quiet};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    installLogger(&kQuiet);
    const size_t rest = size - 4;
    const size_t split = rest == 0 ? 0 : getLe32(data, 0) % (rest + 1);
    std::vector<uint8_t> file(data + 4, data + 4 + split);
    const uint8_t* flash = data + 4 + split;
    validateBiosImage(file.data(), file.size(), 0x0630);
    const std::vector<RomImage> images = walkRomImages(file.data(), file.size());
    walkRomComponents(file.data(), file.size(), images);
    std::vector<uint8_t> merged;
    assembleBios(file.data(), file.size(), flash, rest - split, &merged);
    assembleBios(file.data(), file.size(), nullptr, 0, &merged);
    return 0;
}
