// Conversion of command text to and from the OEM code page, the check that text fits its
// command, and the commands that carry text, on any text in several code pages.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "commands/Commands.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// Single-byte code pages and the double-byte ones of East Asia.
const char* const kCodePages[] = {"CP437", "CP850", "CP866", "CP1252", "CP932", "CP936", "CP949", "CP950"};

using Bytes = std::vector<unsigned char>;

Bytes Oem(const WideString& text, int capacity) {
    // Exactly `capacity` bytes on the heap, so that AddressSanitizer sees a write past them.
    std::unique_ptr<unsigned char[]> buffer(
        new unsigned char[static_cast<size_t>(capacity > 0 ? capacity : 1)]);
    const int count = ConvertToOem(text, buffer.get(), capacity);
    FUZZ_CHECK(count >= 0 && count <= (capacity > 0 ? capacity : 0), "wrote past the capacity");
    return Bytes(buffer.get(), buffer.get() + count);
}

bool StartsWith(const Bytes& whole, const Bytes& part) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// The command's text field: the first `units` units, converted into at most `units` bytes.
void CheckField(const Cmd& cmd, size_t offset, const WideString& text, size_t units) {
    FUZZ_CHECK(static_cast<size_t>(cmd.GetLength()) == offset + units, "length");
    const Bytes expected = Oem(text.substr(0, units), static_cast<int>(units));
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), cmd.GetData() + offset), "text field");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const char* codePage = input.PickValueInArray(kCodePages);
    FUZZ_CHECK(SetOemCodePage(codePage), codePage);
    const int capacity = input.ConsumeIntegralInRange<int>(-1, 300);
    const int mode = input.ConsumeIntegral<int>();
    const std::vector<uint8_t> raw =
        input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 400));
    WideString text;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        text += static_cast<WideChar>(raw[i] | (raw[i + 1] << 8));
    }

    // The whole text and any shorter room: always a prefix of whole characters.
    const int whole = OemByteCount(text);
    FUZZ_CHECK(whole >= 0 && whole <= static_cast<int>(text.size()) * 4, "byte count");
    const Bytes all = Oem(text, whole);
    FUZZ_CHECK(static_cast<int>(all.size()) == whole, "the whole text does not fit its own byte count");
    const Bytes part = Oem(text, capacity);
    FUZZ_CHECK(StartsWith(all, part), "a shorter conversion is not a prefix");
    FUZZ_CHECK(capacity < whole || part.size() == all.size(), "room enough, yet not all converted");

    // Accepted text goes out one byte per unit, as its length bytes say.
    for (CmdTextField field :
         {CmdTextField::ApName, CmdTextField::StationText, CmdTextField::BtName, CmdTextField::BtPin}) {
        if (CheckCmdText(field, text).empty()) {
            const size_t sent = field == CmdTextField::ApName        ? kMaxApNameUnits
                                : field == CmdTextField::StationText ? kMaxStationTextUnits
                                                                     : kMaxBtTextUnits;
            const WideString cut = text.substr(0, sent);
            FUZZ_CHECK(text.size() <= sent || field == CmdTextField::BtName || field == CmdTextField::BtPin,
                       "over the limit, yet accepted");
            FUZZ_CHECK(OemByteCount(cut) == static_cast<int>(cut.size()),
                       "accepted, but not one byte per unit");
        }
    }

    // The commands with text hold any text without writing past their buffers.
    const size_t n = text.size();
    CheckField(SetAPParaCmd(mode, static_cast<int>(n), text), 11, text, std::min<size_t>(n, kMaxApNameUnits));
    CheckField(WifiTestParaCmd(mode, mode >> 8, mode >> 16, mode >> 24, static_cast<int>(n), text), 14, text,
               std::min<size_t>(n, kMaxStationTextUnits));
    CheckField(SetBtNameCmd(text), 5, text, std::min<size_t>(n, kMaxBtTextUnits));
    CheckField(SetBtPinCmd(text), 5, text, std::min<size_t>(n, kMaxBtTextUnits));

    // Back from bytes: any bytes give text that survives UTF-8 unchanged.
    const WideString back = ConvertFromOem(raw.data(), static_cast<int>(raw.size()));
    WideString again;
    FUZZ_CHECK(Utf8ToWide(WideToUtf8(back), again) && again == back, "decoded text does not survive UTF-8");

    // UTF-8 itself: what is taken prints back byte for byte; any UTF-16 prints as valid UTF-8.
    const std::string utf8(raw.begin(), raw.end());
    WideString wide;
    if (Utf8ToWide(utf8, wide)) {
        FUZZ_CHECK(WideToUtf8(wide) == utf8, "UTF-8 does not print back");
    }
    FUZZ_CHECK(Utf8ToWide(WideToUtf8(text), wide), "UTF-8 made from UTF-16 is not valid");
    FUZZ_CHECK(wide.size() == text.size(), "a unit lost or gained through UTF-8");
    return 0;
}
