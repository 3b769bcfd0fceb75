// Serial and parallel ports: what both platforms do alike. A constructor opens the port as far
// as it can; the outcome shows in the next Write.
#include "transport/SerialMessengers.h"

ComMessenger::ComMessenger(int portNumber, int baudRate) {
    ComMessenger::OpenPort(portNumber, baudRate);
}

ComMessenger::ComMessenger(const std::string& device, int baudRate) {
    OpenDevice(device, baudRate);
}

ComMessenger::~ComMessenger() {
    ComMessenger::Close();
}

LptMessenger::LptMessenger(int portNumber) {
    LptMessenger::OpenPort(portNumber);
}

LptMessenger::LptMessenger(const std::string& device) {
    OpenDevice(device);
}

LptMessenger::~LptMessenger() {
    LptMessenger::Close();
}
