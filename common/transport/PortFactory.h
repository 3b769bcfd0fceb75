// Turns the port the operator chose into a messenger, and disposes of it after the action.
#pragma once

#include <cstdint>

#include "transport/BaudRates.h"

class Messenger;

/// Port indexes, the order of the port combo box of both dialogs.
enum PortIndex { kPortUsb = 0, kPortLpt1, kPortLpt2, kPortLpt3, kPortCom1, kPortCom2, kPortEthernet };

/// TCP port of the printer.
constexpr int kPrinterTcpPort = 9100;

/// The messenger for a port index (0-6), already opened as far as its constructor could; null for
/// any other index. Index 0 answers the process-wide USB messenger. The baud index (0-4) is read
/// only for indexes 4 and 5, the address only for 6.
Messenger* CreateMessenger(int portIndex, int baudIndex, uint32_t printerAddress);

/// Deletes what CreateMessenger answered, except the USB messenger; null does nothing.
void ReleaseMessenger(Messenger* messenger);
