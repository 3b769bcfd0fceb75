#include <signal.h>

#include "emulator/EmulatorSystem.h"

void RestartCallsAfterStopSignals() {
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) == 0 && (action.sa_flags & SA_RESTART) == 0) {
            action.sa_flags |= SA_RESTART;
            ::sigaction(signal, &action, nullptr);
        }
    }
}

void ShareListeningPort(asio::ip::tcp::acceptor& listener, std::error_code& error) {
    listener.set_option(asio::socket_base::reuse_address(true), error);
}
