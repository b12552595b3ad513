// Expander discovery, identification and show over a scripted SCSI device:
// every SG_IO request is answered from the fuzz input (status, host and
// driver status, residual, sense and the data itself).
#include <fcntl.h>
#include <scsi/sg.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "expander/show.h"
#include "fuzz_input.h"
#include "shell/logger.h"
#include "targets/expander_device.h"
#include "targets/expander_scan.h"
#include "targets/scsi_transport.h"
#include "targets/target_list.h"

// BUSY retries pause for a second each: not in a fuzzer.
extern "C" int nanosleep(const struct timespec*, struct timespec*) {
    return 0;
}

namespace {

FuzzInput* g_input = nullptr;

int scriptedSgIo(int, sg_io_hdr* header) {
    FuzzInput& in = *g_input;
    if (in.empty())
        return -1;
    const uint8_t control = in.byte();
    if ((control & 0x0F) == 0x0F)
        return -1;  // the request itself refused
    header->status = in.byte();
    header->host_status = (control & 0x10) != 0 ? in.byte() : 0;
    header->driver_status = (control & 0x20) != 0 ? in.byte() : 0;
    header->resid = (control & 0x40) != 0 ? static_cast<int>(in.word()) : 0;
    header->sb_len_wr = 0;
    if ((control & 0x80) != 0 && header->sbp != nullptr) {
        const uint8_t length = in.byte();
        header->sb_len_wr = length;
        in.copy(header->sbp, length < header->mx_sb_len ? length : header->mx_sb_len);
    }
    if (header->dxfer_direction == SG_DXFER_FROM_DEV && header->dxferp != nullptr)
        in.copy(static_cast<uint8_t*>(header->dxferp), header->dxfer_len);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* sink = std::fopen("/dev/null", "w");
    setConsoleStreams(sink, nullptr);
    setSgIoIssuer(scriptedSgIo);
    FuzzInput input(data, size);
    g_input = &input;

    const uint32_t expanders = 1 + input.byte() % 3;
    for (uint32_t i = 0; i < expanders; ++i)
        addExpander(createExpanderTarget(i, DeviceFd(::open("/dev/null", O_RDWR | O_CLOEXEC))));

    static const char* const kOptions[] = {"-all", "-rev", "-mfg", "-temp"};
    for (uint32_t index = 1; index <= targetCount(); ++index) {
        setCurrentTarget(targetAt(index));
        for (const char* option : kOptions) {
            char show[] = "show";
            char* words[] = {show, const_cast<char*>(option)};
            expanderShowCommand(2, words);
        }
        // A read whose caller takes what arrived.
        uint8_t cdb[kBufferCdbLength];
        buildBufferZeroCdb(cdb);
        uint8_t buffer[256];
        uint32_t transferred = 0;
        Target* target = targetAt(index);
        if (expanderOf(target)->read(target, cdb, sizeof cdb, buffer, sizeof buffer,
                                     &transferred) == 0 &&
            transferred > sizeof buffer) {
            __builtin_trap();
        }
    }
    setCurrentTarget(nullptr);
    releaseAllTargets();
    g_input = nullptr;
    return 0;
}
