// Conversion of command text between wide text and the printer's OEM code page.
//
// On Windows this is the system's OEM code page (CP_OEMCP) unless a caller picks another one;
// on POSIX it is a code page chosen by the caller through iconv, CP437 (the US OEM code page)
// by default. Characters the code page cannot represent become its default character ('?').
#pragma once

#include <string>

#include "system/WideText.h"

/// Converts `text` into at most `capacity` bytes at `out`, whole characters only: a character
/// that does not fit completely is left out together with everything after it. Returns the
/// number of bytes written (0 to capacity). Never writes past out[capacity - 1].
int ConvertToOem(const WideString& text, unsigned char* out, int capacity);

/// Number of bytes the whole of `text` takes in the OEM code page.
int OemByteCount(const WideString& text);

/// Converts OEM bytes back to wide text (used to show what a printer received).
/// Bytes the code page does not define become U+FFFD.
WideString ConvertFromOem(const unsigned char* bytes, int count);

/// Chooses the code page by name ("CP437", "CP850", "CP866", ... or a bare Windows code page
/// number such as "850"). Returns false, and keeps the current one, when it is unknown here.
bool SetOemCodePage(const std::string& name);

/// Name of the code page in use, e.g. "CP437".
std::string OemCodePageName();
