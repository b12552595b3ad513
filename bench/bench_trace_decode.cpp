// Decoding a full 64 MiB trace buffer: 64 modules, records of every argument
// count and time stamps, into a sink that discards the text. The target is
// 200 MB/s or better on a release build.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "expander/trace_decoder.h"
#include "shell/bytes.h"

namespace {

class DiscardingSink final : public TextSink {
  public:
    void print(std::string_view text) override { bytes_ += text.size(); }
    void printLine(std::string_view text) override { bytes_ += text.size() + 1; }
    void warn(std::string_view text) override { bytes_ += text.size(); }
    void error(std::string_view text) override { bytes_ += text.size(); }
    void debug(std::string_view text) override { bytes_ += text.size(); }
    size_t bytes() const { return bytes_; }

  private:
    size_t bytes_ = 0;
};

void append32(std::vector<uint8_t>* out, uint32_t value) {
    uint8_t word[4];
    putLe32(word, 0, value);
    out->insert(out->end(), word, word + 4);
}

std::vector<uint8_t> buildBuffer(size_t size) {
    const char* const strings[] = {
        "Module state change\n",
        "Phy %d link up\n",
        "Phy %d rate %x\n",
        "Discovery pass %u found %d devices in %d ms\n",
        "Region 0x%08x written, %d bytes at %p, status %d\n",
        "TSTAMP",
    };
    std::vector<uint8_t> table;
    for (uint32_t module = 0; module < 64; ++module) {
        std::vector<uint8_t> data = {0, 0};
        for (const char* s : strings)
            data.insert(data.end(), s, s + std::char_traits<char>::length(s) + 1);
        while (data.size() % 4 != 0)
            data.push_back(0);
        table.push_back(static_cast<uint8_t>(module));
        table.push_back(0);
        table.push_back(6);
        table.push_back(0);
        append32(&table, static_cast<uint32_t>(data.size()));
        append32(&table, 0);
        append32(&table, 0);
        table.insert(table.end(), data.begin(), data.end());
    }
    std::vector<uint8_t> buffer;
    append32(&buffer, 1);
    append32(&buffer, 0);
    append32(&buffer, 1);
    append32(&buffer, static_cast<uint32_t>(table.size()));
    buffer.insert(buffer.end(), table.begin(), table.end());
    // Argument counts 0..4 and the time stamp in turn, modules in turn.
    static const uint32_t kCounts[] = {0, 1, 2, 3, 4, 2};
    uint32_t i = 0;
    while (buffer.size() + 20 <= size) {
        const uint32_t kind = i % 6;
        const uint32_t n = kCounts[kind];
        append32(&buffer, (n << 24) | ((i % 64) << 16) | (kind + 1));
        for (uint32_t a = 0; a < n; ++a)
            append32(&buffer, i * 7919u + a);
        ++i;
    }
    buffer.resize(size, 0);
    return buffer;
}

void BM_DecodeTraceBuffer(benchmark::State& state) {
    const std::vector<uint8_t> buffer = buildBuffer(64u << 20);
    for (auto _ : state) {
        DiscardingSink sink;
        benchmark::DoNotOptimize(decodeTraceBuffer(buffer.data(), buffer.size(), sink));
        benchmark::DoNotOptimize(sink.bytes());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_DecodeTraceBuffer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
