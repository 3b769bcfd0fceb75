#include "BtLanCmds.h"

#include <algorithm>

namespace {

constexpr int kBtCapacity = 69;  // 5 fixed bytes, 63 text bytes, the 00 after the text

int BtUnits(const WideString& text) {
    return static_cast<int>(std::min<size_t>(text.size(), kMaxBtTextUnits));
}

// Fills header, length byte and text of a Bluetooth text command.
void FillBtText(unsigned char* buffer, unsigned char kind, const std::string& field) {
    const unsigned char header[] = {0x1F, 0x1B, 0x1F, kind};
    std::copy(std::begin(header), std::end(header), buffer);
    buffer[4] = static_cast<unsigned char>(field.size());
    std::copy(field.begin(), field.end(), buffer + 5);
}

// Fills an Ethernet address command: 1F 1B 1D, the kind byte, the value most significant byte first.
void FillAddress(unsigned char* buffer, unsigned char kind, uint32_t value) {
    const unsigned char bytes[] = {0x1F,
                                   0x1B,
                                   0x1D,
                                   kind,
                                   static_cast<unsigned char>(value >> 24),
                                   static_cast<unsigned char>(value >> 16),
                                   static_cast<unsigned char>(value >> 8),
                                   static_cast<unsigned char>(value)};
    std::copy(std::begin(bytes), std::end(bytes), buffer);
}

}  // namespace

SetBtNameCmd::SetBtNameCmd(WideString name) {
    const std::string field = OemField(name, BtUnits(name));
    FillBtText(AllocateBuffer(kBtCapacity), 0xF0, field);
    SetLength(5 + static_cast<int>(field.size()));
}

SetBtNameCmd::~SetBtNameCmd() {
    FreeBuffer();
}

SetBtPinCmd::SetBtPinCmd(WideString pin) {
    const std::string field = OemField(pin, BtUnits(pin));
    FillBtText(AllocateBuffer(kBtCapacity), 0x09, field);
    SetLength(5 + static_cast<int>(field.size()));
}

SetBtPinCmd::~SetBtPinCmd() {
    FreeBuffer();
}

SetIPCmd::SetIPCmd(uint32_t address) {
    FillAddress(AllocateBuffer(8), 0x00, address);
    SetLength(8);
}

SetIPCmd::~SetIPCmd() {
    FreeBuffer();
}

SetMASKCmd::SetMASKCmd(uint32_t mask) {
    FillAddress(AllocateBuffer(8), 0x01, mask);
    SetLength(8);
}

SetMASKCmd::~SetMASKCmd() {
    FreeBuffer();
}

SetGATECmd::SetGATECmd(uint32_t gateway) {
    FillAddress(AllocateBuffer(8), 0x02, gateway);
    SetLength(8);
}

SetGATECmd::~SetGATECmd() {
    FreeBuffer();
}

SetMACCmd::SetMACCmd(uint32_t lastFourBytes) {
    unsigned char* buffer = AllocateBuffer(10);
    const unsigned char fixed[] = {0x1F, 0x1B, 0x1D, 0x03, 0xBC, 0x20};
    std::copy(std::begin(fixed), std::end(fixed), buffer);
    buffer[6] = static_cast<unsigned char>(lastFourBytes >> 24);
    buffer[7] = static_cast<unsigned char>(lastFourBytes >> 16);
    buffer[8] = static_cast<unsigned char>(lastFourBytes >> 8);
    buffer[9] = static_cast<unsigned char>(lastFourBytes);
    SetLength(10);
}

SetMACCmd::~SetMACCmd() {
    FreeBuffer();
}

SetLanDHCPCmd::SetLanDHCPCmd(int dhcp) {
    unsigned char* buffer = AllocateBuffer(8);
    const unsigned char fixed[] = {0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x1B, 0x08};
    std::copy(std::begin(fixed), std::end(fixed), buffer);
    buffer[7] = static_cast<unsigned char>(dhcp & 0xFF);
    SetLength(8);
}

SetLanDHCPCmd::~SetLanDHCPCmd() {
    FreeBuffer();
}
