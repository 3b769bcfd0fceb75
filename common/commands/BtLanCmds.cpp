#include "commands/BtLanCmds.h"

#include <algorithm>

namespace {

constexpr int kBtCapacity = 69;  // 5 fixed bytes, 63 text bytes, the 00 after the text

int BtUnits(const WideString& text) {
    return static_cast<int>(std::min<size_t>(text.size(), kMaxBtTextUnits));
}

// The length byte, then the text.
unsigned char* PutCounted(unsigned char* at, const std::string& field) {
    *at++ = static_cast<unsigned char>(field.size());
    return std::copy(field.begin(), field.end(), at);
}

}  // namespace

SetBtNameCmd::SetBtNameCmd(WideString name) {
    const std::string field = OemField(name, BtUnits(name));
    EndFields(PutCounted(BeginFields(CmdId::BtName, kBtCapacity), field));
}

SetBtNameCmd::~SetBtNameCmd() {
    FreeBuffer();
}

SetBtPinCmd::SetBtPinCmd(WideString pin) {
    const std::string field = OemField(pin, BtUnits(pin));
    EndFields(PutCounted(BeginFields(CmdId::BtPin, kBtCapacity), field));
}

SetBtPinCmd::~SetBtPinCmd() {
    FreeBuffer();
}

SetIPCmd::SetIPCmd(uint32_t address) {
    EndFields(PutFourBytes(BeginFields(CmdId::LanIp, 8), address));
}

SetIPCmd::~SetIPCmd() {
    FreeBuffer();
}

SetMASKCmd::SetMASKCmd(uint32_t mask) {
    EndFields(PutFourBytes(BeginFields(CmdId::LanMask, 8), mask));
}

SetMASKCmd::~SetMASKCmd() {
    FreeBuffer();
}

SetGATECmd::SetGATECmd(uint32_t gateway) {
    EndFields(PutFourBytes(BeginFields(CmdId::LanGateway, 8), gateway));
}

SetGATECmd::~SetGATECmd() {
    FreeBuffer();
}

SetMACCmd::SetMACCmd(uint32_t lastFourBytes) {
    EndFields(PutFourBytes(BeginFields(CmdId::LanMac, 10), lastFourBytes));
}

SetMACCmd::~SetMACCmd() {
    FreeBuffer();
}

SetLanDHCPCmd::SetLanDHCPCmd(int dhcp) {
    unsigned char* at = BeginFields(CmdId::LanDhcp, 8);
    *at++ = static_cast<unsigned char>(dhcp & 0xFF);
    EndFields(at);
}

SetLanDHCPCmd::~SetLanDHCPCmd() {
    FreeBuffer();
}
