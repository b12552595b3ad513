// The confirmation every flash and erase command asks before it writes:
// the question is shown again until Yes or No is typed. At the end of
// standard input nobody can answer, so it stops and says so instead of
// asking forever.
#pragma once

#include <cstdint>

inline constexpr uint32_t kConfirmYes = 0;
inline constexpr uint32_t kConfirmNo = 1;
inline constexpr uint32_t kConfirmNoAnswer = 2;  // input ended; treat as cancelled

// Prints the question (no line end) and reads the answer with askYesNo.
uint32_t confirmYesNo(const char* question);
