#include "commands/TextCheck.h"

#include "commands/BtLanCmds.h"
#include "commands/WifiCmds.h"
#include "system/OemText.h"

namespace {

int MaxUnits(CmdTextField field) {
    switch (field) {
        case CmdTextField::ApName:
            return kMaxApNameUnits;
        case CmdTextField::StationText:
            return kMaxStationTextUnits;
        case CmdTextField::BtName:
        case CmdTextField::BtPin:
            break;
    }
    return -1;  // no limit: the command cuts the text to its first 63 units
}

std::string Capitalized(const char* name) {
    std::string text = "The ";
    text += name;
    return text;
}

}  // namespace

const char* CmdTextFieldName(CmdTextField field) {
    switch (field) {
        case CmdTextField::ApName:
            return "access point name";
        case CmdTextField::StationText:
            return "station text (network name, password and addresses)";
        case CmdTextField::BtName:
            return "Bluetooth name";
        case CmdTextField::BtPin:
            return "Bluetooth PIN";
    }
    return "text";
}

std::string CheckCmdText(CmdTextField field, const WideString& text) {
    const int max = MaxUnits(field);
    const int units = static_cast<int>(text.size());
    if (max >= 0 && units > max) {
        return Capitalized(CmdTextFieldName(field)) + " has " + std::to_string(units) +
               " characters; at most " + std::to_string(max) + " fit.";
    }
    const WideString sent = max >= 0 ? text : text.substr(0, kMaxBtTextUnits);
    if (OemByteCount(sent) != static_cast<int>(sent.size())) {
        return Capitalized(CmdTextFieldName(field)) + " holds characters that code page " +
               OemCodePageName() + " does not write as one byte each; only such characters can be sent.";
    }
    return std::string();
}

WideString UnwritableCharacters(const WideString& text) {
    WideString found;
    for (size_t i = 0; i < text.size();) {
        const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        const WideString character = text.substr(i, pair ? 2 : 1);
        i += character.size();
        unsigned char bytes[8] = {};
        const int count = ConvertToOem(character, bytes, static_cast<int>(sizeof bytes));
        if (ConvertFromOem(bytes, count) != character && found.find(character) == WideString::npos) {
            found += character;
        }
    }
    return found;
}
