// Expands the firmware's own format strings with a trace record's 32-bit
// arguments, without handing device text to printf. Accepted conversions:
//   %[-+ #0][width <= 99][.precision <= 99][hh|h|l|ll|j|z|t] with d i u o x X c p s, and %%.
// Each takes the next argument: d and i signed, hh and h narrow as C does,
// the other lengths change nothing; s and p print "0x" and lower-case hex;
// c prints the low byte when printable, else '.'. Anything else (%n,
// floating point, *, $, wider fields, no argument left, a final lone %)
// is printed as it stands and takes no argument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Appends the expansion to *out. Literal text is made terminal-safe.
void expandTraceFormat(std::string_view format, const uint32_t* args, size_t argCount,
                       std::string* out);
// The same for a format already made terminal-safe (the trace decoder's
// string index holds only such text): literal runs are copied as they are.
void expandSafeTraceFormat(std::string_view format, const uint32_t* args, size_t argCount,
                           std::string* out);
