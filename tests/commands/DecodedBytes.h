// Reads decode's lines back into the bytes they stand for, so that a test can tell whether
// decode accounted for every byte of its input: none skipped, none invented, none misread.
#pragma once

#include <string>
#include <vector>

/// The bytes that the decoded `lines` describe, back to back, with text converted by the OEM
/// code page in use. False, with `problem` naming the line, when a line cannot be read back.
bool RebuildDecodedBytes(const std::vector<std::string>& lines,
                         std::vector<unsigned char>& bytes,
                         std::string& problem);
