#include "transport/PortFactory.h"

#include <typeinfo>

#include "transport/EthernetMessenger.h"
#include "transport/SerialMessengers.h"
#include "transport/UsbMessenger.h"

Messenger* CreateMessenger(int portIndex, int baudIndex, uint32_t printerAddress) {
    switch (portIndex) {
        case kPortUsb:
            return GetUsbMessenger();
        case kPortLpt1:
        case kPortLpt2:
        case kPortLpt3:
            return new LptMessenger(portIndex - kPortLpt1);
        case kPortCom1:
        case kPortCom2:
            // The combo box always has a selection, so the index is 0-4; anything else is
            // still kept inside the table.
            return new ComMessenger(portIndex - kPortCom1,
                                    kBaudRates[baudIndex >= 0 && baudIndex < kBaudRateCount ? baudIndex : 0]);
        case kPortEthernet:
            return new EthernetMessenger(printerAddress, kPrinterTcpPort);
        default:
            return nullptr;
    }
}

void ReleaseMessenger(Messenger* messenger) {
    if (messenger == nullptr) {
        return;
    }
    // By exact type: the process-wide USB messenger stays, and so does anything unknown.
    const std::type_info& type = typeid(*messenger);
    if (type == typeid(EthernetMessenger) || type == typeid(ComMessenger) || type == typeid(LptMessenger)) {
        delete messenger;
    }
}

UsbMessenger* g_pUsbMessenger = nullptr;

UsbMessenger* GetUsbMessenger() {
    if (g_pUsbMessenger == nullptr) {
        g_pUsbMessenger = new UsbMessenger();
    }
    return g_pUsbMessenger;
}

void DestroyUsbMessenger() {
    delete g_pUsbMessenger;
    g_pUsbMessenger = nullptr;
}
