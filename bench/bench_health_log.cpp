// Health log printing over a buffer of whole entries into a discarding sink.
// No throughput is promised for it; it is listed so that a slowdown shows.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "expander/health_log.h"

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

// 4 MiB of entries whose every field is set, so none ends the log early.
void BM_HealthLogEntries(benchmark::State& state) {
    std::vector<uint8_t> buffer(4u << 20);
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<uint8_t>(0x11 + i % 61);
    for (auto _ : state) {
        DiscardingSink sink;
        printHealthLogEntries(buffer.data(), buffer.size(), sink);
        benchmark::DoNotOptimize(sink.bytes());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_HealthLogEntries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
