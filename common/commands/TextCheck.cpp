#include "TextCheck.h"

#include "BtLanCmds.h"
#include "OemText.h"
#include "WifiCmds.h"

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
