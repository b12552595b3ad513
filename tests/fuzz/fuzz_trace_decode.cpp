// A trace buffer as the expander returns it: header, string table and
// records, every length a lie the decoder must survive.
#include <cstddef>
#include <cstdint>

#include "checking_sink.h"
#include "expander/trace_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckingSink sink;
    decodeTraceBuffer(data, size, sink);
    return 0;
}
