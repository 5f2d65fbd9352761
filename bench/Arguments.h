// Reading the bench programs' numeric arguments.
#pragma once

#include <cstdlib>

// The whole of `text` as a decimal integer from minimum to maximum; false for anything else.
inline bool ParseInt(const char *text, int minimum, int maximum, int &value)
{
    char *end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < minimum || parsed > maximum)
        return false;
    value = static_cast<int>(parsed);
    return true;
}
