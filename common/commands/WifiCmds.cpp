#include "commands/WifiCmds.h"

#include <algorithm>

#include "values/Values.h"

namespace {

constexpr int kApCapacity = 43;        // 11 fixed bytes, 31 name bytes, the 00 after the name
constexpr int kStationCapacity = 142;  // 14 fixed bytes, 127 text bytes, the 00 after the text

int FieldUnits(const WideString& text, int max) {
    return static_cast<int>(std::min<size_t>(text.size(), static_cast<size_t>(max)));
}

}  // namespace

SetAPParaCmd::SetAPParaCmd(int mode, int nameLength, WideString name) {
    const std::string field = OemField(name, FieldUnits(name, kMaxApNameUnits));
    // The 00 after the text comes from the zero fill.
    unsigned char* at = BeginFields(CmdId::WifiAp, kApCapacity);
    *at++ = static_cast<unsigned char>(mode & 0xFF);
    *at++ = static_cast<unsigned char>(nameLength & 0xFF);
    EndFields(std::copy(field.begin(), field.end(), at));
}

SetAPParaCmd::~SetAPParaCmd() {
    FreeBuffer();
}

WifiTestParaCmd::WifiTestParaCmd(int auth,
                                 int encryption,
                                 int nameLength,
                                 int passwordLength,
                                 int addressLength,
                                 WideString stationText) {
    const std::string field = OemField(stationText, FieldUnits(stationText, kMaxStationTextUnits));
    unsigned char* at = BeginFields(CmdId::WifiStation, kStationCapacity);
    for (const int value : {auth, encryption, nameLength, passwordLength, addressLength}) {
        *at++ = static_cast<unsigned char>(value & 0xFF);
    }
    EndFields(std::copy(field.begin(), field.end(), at));
}

WifiTestParaCmd::~WifiTestParaCmd() {
    FreeBuffer();
}

StationText BuildStationText(const WideString& networkName,
                             const WideString& password,
                             uint32_t ip,
                             uint32_t mask,
                             uint32_t gateway) {
    StationText station;
    station.nameLength = static_cast<int>(networkName.size());
    station.passwordLength = static_cast<int>(password.size());
    station.text = networkName + password;
    station.text += WidenAscii(FormatAddress(ip) + "," + FormatAddress(mask) + "," + FormatAddress(gateway));
    station.addressLength =
        static_cast<int>(station.text.size()) - station.nameLength - station.passwordLength;
    return station;
}
