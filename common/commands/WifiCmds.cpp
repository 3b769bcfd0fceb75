#include "WifiCmds.h"

#include <algorithm>

#include "Values.h"

namespace {

const unsigned char kApHeader[] = {0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x03, 0x0A, 0x0B, 0x0C};
const unsigned char kStationHeader[] = {0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x03, 0x07, 0x08, 0x09};

constexpr int kApCapacity = 43;        // 11 fixed bytes, 31 name bytes, the 00 after the name
constexpr int kStationCapacity = 142;  // 14 fixed bytes, 127 text bytes, the 00 after the text

int FieldUnits(const WideString& text, int max) {
    return static_cast<int>(std::min<size_t>(text.size(), static_cast<size_t>(max)));
}

}  // namespace

SetAPParaCmd::SetAPParaCmd(int mode, int nameLength, WideString name) {
    const int n = FieldUnits(name, kMaxApNameUnits);
    const std::string field = OemField(name, n);
    unsigned char* buffer = AllocateBuffer(kApCapacity);  // the 00 after the text comes from the zero fill
    std::copy(std::begin(kApHeader), std::end(kApHeader), buffer);
    buffer[9] = static_cast<unsigned char>(mode & 0xFF);
    buffer[10] = static_cast<unsigned char>(nameLength & 0xFF);
    std::copy(field.begin(), field.end(), buffer + 11);
    SetLength(11 + n);
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
    const int n = FieldUnits(stationText, kMaxStationTextUnits);
    const std::string field = OemField(stationText, n);
    unsigned char* buffer = AllocateBuffer(kStationCapacity);
    std::copy(std::begin(kStationHeader), std::end(kStationHeader), buffer);
    buffer[9] = static_cast<unsigned char>(auth & 0xFF);
    buffer[10] = static_cast<unsigned char>(encryption & 0xFF);
    buffer[11] = static_cast<unsigned char>(nameLength & 0xFF);
    buffer[12] = static_cast<unsigned char>(passwordLength & 0xFF);
    buffer[13] = static_cast<unsigned char>(addressLength & 0xFF);
    std::copy(field.begin(), field.end(), buffer + 14);
    SetLength(14 + n);
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
