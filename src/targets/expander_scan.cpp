#include "targets/expander_scan.h"

#include <dirent.h>

#include <cstdio>

#include "shell/bytes.h"
#include "shell/command.h"
#include "shell/logger.h"
#include "targets/expander_device.h"
#include "targets/expander_models.h"
#include "targets/target_list.h"

namespace {

constexpr const char* kScsiGenericClass = "/sys/class/scsi_generic";

// Closes a directory stream on every path.
class DirStream final {
  public:
    explicit DirStream(const char* path) : dir_(opendir(path)) {}
    ~DirStream() {
        if (dir_ != nullptr)
            closedir(dir_);
    }
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;
    DIR* get() const { return dir_; }

  private:
    DIR* const dir_;
};

uint32_t readRegister32(Target* target, uint32_t address, uint32_t* value) {
    uint8_t bytes[4] = {};
    if (readChipRegister(target, address, bytes, sizeof bytes) != 0)
        return 1;
    *value = getLe32(bytes, 0);
    return 0;
}

}  // namespace

bool parseSgEntryName(const char* name, uint32_t* number) {
    if (name == nullptr || name[0] != 's' || name[1] != 'g' || name[2] == '\0')
        return false;
    uint32_t value = 0;
    for (const char* p = name + 2; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(*p - '0');
        if (value > kMaxSgNumber)
            return false;
    }
    *number = value;
    return true;
}

void addExpander(Target* target) {
    if (target == nullptr) {
        logError("Invalid expander device getting added. Expander device is null.");
        return;
    }
    ExpanderDevice* device = expanderOf(target);
    const uint32_t identified = identifyExpander(target);
    if (identified != 0) {
        // A command that failed would renumber every target after this one
        // without a word; a chip we do not know is simply not ours.
        if (identified != kIdentifyUnknownChip)
            logWarn("Device '%s' not added: identification failed.", device->path.c_str());
        device->destroy(target);
        return;
    }
    target->commands = kExpanderCommands;
    if (appendTarget(target) != 0) {
        logWarn("Target list is full. Device '%s' not added.", device->path.c_str());
        device->destroy(target);
    }
}

uint32_t identifyExpander(Target* target) {
    ExpanderDevice* device = expanderOf(target);
    if (device == nullptr)
        return 1;

    uint32_t chipId = 0;
    if (readRegister32(target, kChipIdRegister, &chipId) != 0)
        return 1;
    const ExpanderModel* model = findExpanderModel(chipDeviceId(chipId));
    if (model == nullptr)
        return kIdentifyUnknownChip;
    if (hasVariantRow(model)) {
        // Read again: an unreadable variant bit counts as clear.
        uint32_t again = 0;
        const bool variantSet =
            readRegister32(target, kChipIdRegister, &again) == 0 && (again & kChipVariantBit) != 0;
        model = pickVariant(model, variantSet);
    }
    char revision[32];
    expanderRevisionText(chipRevision(chipId), revision, sizeof revision);
    std::snprintf(target->name, sizeof target->name, "%s %s", model->name, revision);
    target->family = model->family;

    if (readBufferZero(target) != 0)
        return 1;

    uint8_t address[8] = {};
    if (readChipRegister(target, kSasAddressRegister, address, sizeof address) != 0)
        return 1;
    device->sasAddress = (static_cast<uint64_t>(getLe32(address, 0)) << 32) | getLe32(address, 4);
    return 0;
}

void scanExpanderNodes() {
    const DirStream dir(kScsiGenericClass);
    if (dir.get() == nullptr)
        return;
    while (const dirent* entry = readdir(dir.get())) {
        uint32_t number = 0;
        if (!parseSgEntryName(entry->d_name, &number))
            continue;
        char path[64];
        std::snprintf(path, sizeof path, "%s%u", "/dev/sg", number);
        DeviceFd fd;
        if (!openExpanderNode(path, &fd))
            continue;
        addExpander(createExpanderTarget(number, std::move(fd)));
    }
}
