// decode on any bytes: it never fails, and its lines stand for exactly the bytes given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "commands/Decode.h"
#include "system/OemText.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/tolctl/DecodedBytes.h"
#include "values/Values.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetOemCodePage("CP437");  // every byte is a character of its own, so text reads back exactly
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<unsigned char> input(data, data + size);
    const std::vector<std::string> lines = DecodeCommands(input);
    FUZZ_CHECK(lines.empty() == input.empty(), "bytes without a line, or a line without bytes");

    std::vector<unsigned char> rebuilt;
    std::string problem;
    FUZZ_CHECK(RebuildDecodedBytes(lines, rebuilt, problem), problem);
    FUZZ_CHECK(rebuilt == input, "the lines stand for " + HexBytes(rebuilt.data(), rebuilt.size()));
    return 0;
}
