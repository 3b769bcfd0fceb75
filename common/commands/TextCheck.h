// The one check that tells whether a text fits its command before anything is sent.
#pragma once

#include <string>

#include "system/WideText.h"

enum class CmdTextField {
    ApName,       // access point name: at most 31 UTF-16 units
    StationText,  // network name + password + address text: at most 127 UTF-16 units
    BtName,       // Bluetooth name: cut to 63 units by the command, no length limit here
    BtPin,        // Bluetooth PIN: the same
};

/// Human name of the field as messages use it, e.g. "access point name".
const char* CmdTextFieldName(CmdTextField field);

/// Empty when `text` fits its command: within the field's length limit, and converted by the
/// OEM code page into exactly one byte per UTF-16 unit (otherwise the field would be cut and its
/// length byte would not match the bytes sent). Otherwise an English message that names the
/// field and the limit, e.g. "The access point name has 40 characters; at most 31 fit."
std::string CheckCmdText(CmdTextField field, const WideString& text);

/// The characters of `text` that the OEM code page cannot write as themselves (they would be sent
/// as its default character, or as a look-alike), each once, in the order they first appear.
/// The dialogs send such text as it converts; tolctl refuses it.
WideString UnwritableCharacters(const WideString& text);
