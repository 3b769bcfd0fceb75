#include "emulator/EmulatorSystem.h"

void RestartCallsAfterStopSignals() {}

void ShareListeningPort(asio::ip::tcp::acceptor&, std::error_code& error) {
    // Windows lets a port be listened on again while old connections to it wait out their time.
    error.clear();
}
