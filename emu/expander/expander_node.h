// One emulated SAS expander behind a SCSI generic node: its enclosure
// services target answers INQUIRY, READ BUFFER and WRITE BUFFER the way the
// management tools expect, over one coherent model of chip registers, flash
// regions, configuration pages and logs. Flash and the running state are
// saved through EmuServices after every change and loaded at creation.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "emu_api.h"
#include "expander/expander_config.h"

namespace qemu::expander {

// Fills cluster * 8 + lane -> phy for second-generation chips (-1: no phy).
void buildLaneMap(std::array<int, 64>& map, int phyCount);

class ExpanderNode final : public SgNode {
  public:
    ExpanderNode(ExpanderConfig config, EmuServices& services);
    ExpanderNode(const ExpanderNode&) = delete;
    ExpanderNode& operator=(const ExpanderNode&) = delete;

    int hostNumber() const override { return config_.hctl[0]; }
    int channel() const override { return config_.hctl[1]; }
    int scsiId() const override { return config_.hctl[2]; }
    int lun() const override { return config_.hctl[3]; }
    int peripheralType() const override;
    int onOpen() override;
    void onClose() override;
    void execute(const ScsiRequest& request, ScsiResult* result) override;

    // False while the expander is away after a reset.
    bool present();
    // The sg number it answers under now (changes after a reset when the
    // topology says so).
    int sgNumber() const { return currentSg_; }
    int configuredSg() const { return config_.sg; }
    const std::vector<int>& numbersAfterReset() const { return config_.sgAfterReset; }

  private:
    struct PhyState {
        bool disabled = false;
        int pending = 0;  // 1 link reset, 2 hard reset in progress
        uint64_t completeAtNs = 0;
        uint8_t negotiated = 0;
        std::array<uint32_t, 4> counters{};
        uint32_t linkWord4 = 0;  // programmed rate codes and enables
        uint32_t linkWord8 = 0;  // rate enable bits
        uint32_t changeCount = 0;
    };

    // expander_scsi.cpp: command dispatch and faults
    void dispatch(const ScsiRequest& req, ScsiResult* r);
    void inquiry(const ScsiRequest& req, ScsiResult* r);
    void readBuffer(const ScsiRequest& req, ScsiResult* r);
    void writeBuffer(const ScsiRequest& req, ScsiResult* r);
    bool bufferFault(uint8_t buffer, int mode, ScsiResult* r);
    void startReset();
    void settle();
    void noteFault(const char* name);
    void logRegisterWrite(uint32_t address, const uint8_t* data, size_t length);
    // expander_register_faults.cpp: failRegister and pageLength
    bool registerFault(uint32_t address, size_t length, bool write, ScsiResult* r);
    void applyPageLength(uint16_t number, uint8_t region, std::vector<uint8_t>* page) const;

    // expander_memory.cpp: the address-mapped chip registers
    enum class Area {
        None,
        Chip,
        Status,
        VirtualStatus,
        LinkConfig,
        Gen2Control,
        Temperature,
        Route,
        Sram
    };
    struct Decoded {
        Area area = Area::None;
        int phy = -1;
        uint32_t offset = 0;
    };
    Decoded decode(uint32_t address) const;
    // Decodes every word of a range; false if it wraps or any word maps
    // nowhere, so an access touches memory all or not at all.
    bool decodeRange(uint32_t address, size_t length, std::vector<Decoded>* decoded) const;
    bool readMemory(uint32_t address, uint8_t* out, size_t length);
    bool writeMemory(uint32_t address, const uint8_t* in, size_t length);
    uint32_t readWord(uint32_t address, const Decoded& d);
    // A value the topology scripted for this read of the word, else value.
    uint32_t scriptedValue(uint32_t address, uint32_t value);
    void writeWord(uint32_t address, const Decoded& d, uint32_t value);
    uint32_t linkBlockWord(int phy, uint32_t word);
    uint32_t phyControlWord(int phy);
    void phyControlWrite(int phy, uint32_t value);
    void settlePhy(int phy);
    uint8_t negotiate(int phy) const;
    void rateLimits(int phy, uint8_t* minRate, uint8_t* maxRate) const;
    bool linked(int phy) const;
    uint32_t temperatureRaw() const;
    bool sensorOn() const;
    void loadRouteEntry();

    // expander_storage.cpp: flash regions, pages, boot and persistence
    void createRegions();
    std::vector<uint8_t> initialRegion(size_t index) const;
    std::vector<uint8_t>* dataBuffer(uint8_t buffer, bool* writable, bool* empty);
    void regionWritten(uint8_t buffer);
    void bootFromFlash();
    void resetVolatile(bool keepCounters);
    bool findPage(uint16_t number, uint8_t region, std::vector<uint8_t>* page) const;
    void saveRuntime();
    bool loadRuntime();
    std::string stateKey(const std::string& what) const;

    ExpanderConfig config_;
    EmuServices& services_;
    int currentSg_;
    size_t resetCount_ = 0;
    int closes_ = 0;

    // reset lifecycle
    bool away_ = false;
    uint64_t awayUntilNs_ = 0;
    bool pendingUnitAttention_ = false;

    // running state (persisted)
    uint64_t runningSas_;
    std::vector<uint8_t> runningFirmware_;  // first 256 bytes of the booted image
    std::map<uint16_t, std::vector<uint8_t>> runtimePages_;
    std::vector<PhyState> phys_;

    // flash and logs
    std::array<std::vector<uint8_t>, 10> regions_;  // 0x80..0x89
    std::vector<uint8_t> healthLog_;
    std::vector<uint8_t> healthText_;
    std::vector<uint8_t> trace_;

    // registers that live in RAM only
    std::unordered_map<uint32_t, uint32_t> ram_;
    std::array<uint32_t, 4> edfb_{};
    std::array<int, 64> gen2LaneToPhy_{};  // cluster * 8 + lane -> phy, -1 none
    uint32_t tempControl_ = 0x115;
    uint32_t tempEnable04_ = 0;
    uint32_t tempEnable14_ = 0;
    uint32_t tempStatus10_ = 0;  // bits other than the ready bit
    bool tempArmed_ = false;
    uint32_t tempSequence_ = 0;
    uint32_t routeIndex_ = 0;
    std::array<uint32_t, 6> routeWords_{};
};

}  // namespace qemu::expander
