// The question the flash commands ask before they write: asked again after
// an invalid answer, and never again once standard input has ended, so that
// an unattended run cannot loop on it or be taken as consent.
#pragma once

#include <cstdint>

enum class Confirmation : uint32_t {
    Yes,
    No,
    EndOfInput,  // no one is left to answer: nothing was confirmed
};

// Prints the question (without a line end) and reads the answer with askYesNo.
Confirmation askToContinue(const char* question);
