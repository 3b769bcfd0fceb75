// A file of its own: the dialog programs write addresses (the station text) and read none, and
// take only this from the library.
#include "values/Values.h"

std::string FormatAddress(uint32_t address) {
    return std::to_string((address >> 24) & 0xFF) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}
