// Number parsing and splitting helpers over arbitrary text.
#include <cstdint>
#include <string>
#include <vector>

#include "shell/logger.h"
#include "shell/parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* sink = std::fopen("/dev/null", "w");
    setConsoleStreams(sink, nullptr);
    std::string text(reinterpret_cast<const char*>(data), size);
    uint32_t value = 0;
    uint64_t wide = 0;
    parseDecimal(text.c_str());
    parseDecimalChecked(text.c_str(), &wide);
    parseHex32(text.c_str(), &value);
    parseHexDigits(text.c_str(), &value, 7);
    isHexString(text.c_str());
    std::vector<char> first(text.size() + 2), second(text.size() + 2);
    splitAtWidth(text.c_str(), first.data(), second.data(), 8);
    std::vector<char*> pieces;
    uint32_t count = 0;
    splitByDelimiter(text.data(), ',', &count, &pieces);
    hexDump(data, static_cast<uint32_t>(size));
    return 0;
}
