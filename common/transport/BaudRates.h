// The baud rates a serial port can be set to, in the order of the dialogs' baud-rate list: a
// position here is the list's index. The port factory, tolctl and the dialogs' list all take them
// from this one table; the build reads the line below to write the list into the dialog templates
// (cmake/DialogProgram.cmake), so the table stays on one line.
#pragma once

#include <iterator>

constexpr int kBaudRates[] = {9600, 19200, 38400, 57600, 115200};
constexpr int kBaudRateCount = static_cast<int>(std::size(kBaudRates));
