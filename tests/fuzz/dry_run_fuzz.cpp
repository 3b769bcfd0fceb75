// tolctl --dry-run with any argument values, the single commands alone registered: it prints a command or
// refuses (exit code 2, nothing printed); what it prints decodes back to the arguments given.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "commands/Commands.h"
#include "commands/Decode.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/tolctl/DecodedBytes.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "values/Values.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Unhex(const std::string& line) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < line.size(); i += 3) {
        bytes.push_back(static_cast<unsigned char>(std::stoi(line.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string Joined(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) {
        text += ShownText(arg) + " ";
    }
    return text;
}

Bytes Of(const Cmd& cmd) {
    return Bytes(cmd.GetData(), cmd.GetData() + cmd.GetLength());
}

WideString Wide(const std::string& utf8) {
    WideString wide;
    Utf8ToWide(utf8, wide);
    return wide;
}

// One subcommand with values taken from the input; option values go as --name=VALUE and the
// positional after "--", so that no value is ever read as an option or another subcommand.
struct Run {
    std::vector<std::string> args;
    Bytes expected;  // the command the values stand for, when tolctl may take them
    bool mayTake = true;
    std::string firstWord;
};

uint32_t AddressOr(const std::string& text, bool& ok) {
    uint32_t value = 0;
    ok = ok && ParseAddress(text, value);
    return value;
}

Run Build(FuzzedDataProvider& input) {
    Run run;
    // A command line cannot carry a 00 byte.
    auto value = [&input] {
        std::string text = input.ConsumeRandomLengthString(160);
        text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
        return text;
    };
    switch (input.ConsumeIntegralInRange(0, 7)) {
        case 0: {
            const std::string name = value(), mode = value();
            run.args = {"wifi-ap", "--name=" + name, "--mode=" + mode};
            const int index = ParseChoice(mode, {"ap", "sta", "apsta"});
            const WideString wide = Wide(name);
            run.mayTake = index >= 0 && wide.size() <= 31;
            run.expected = Of(SetAPParaCmd(index, static_cast<int>(wide.size()), wide));
            run.firstWord = "wifi-ap";
            break;
        }
        case 1: {
            const std::string ssid = value(), password = value(), auth = value(), enc = value(), ip = value(),
                              mask = value(), gateway = value();
            run.args = {"wifi-station", "--ssid=" + ssid, "--password=" + password, "--auth=" + auth,
                        "--enc=" + enc, "--ip=" + ip,     "--mask=" + mask,         "--gateway=" + gateway};
            bool ok = true;
            const StationText st = BuildStationText(Wide(ssid), Wide(password), AddressOr(ip, ok),
                                                    AddressOr(mask, ok), AddressOr(gateway, ok));
            const int a = ParseChoice(auth, {"open", "shared", "wpapsk", "wpa2psk"});
            const int e = ParseChoice(enc, {"none", "wep-h", "wep-a", "tkip", "aes"});
            // WPA/WPA2 personal needs a passphrase of 8-63 characters; no network is nameless.
            const size_t passphrase = Wide(password).size();
            run.mayTake = ok && a >= 0 && e >= 0 && st.text.size() <= 127 && !ssid.empty() &&
                          (a < 2 || (passphrase >= 8 && passphrase <= 63));
            run.expected =
                Of(WifiTestParaCmd(a, e, st.nameLength, st.passwordLength, st.addressLength, st.text));
            run.firstWord = "wifi-station";
            break;
        }
        case 2:
        case 3: {
            const bool name = input.ConsumeBool();
            const std::string text = value();
            run.args = {name ? "bt-name" : "bt-pin", "--", text};
            run.mayTake = Wide(text).size() <= 63 && (name || !text.empty());  // never cut, a PIN never empty
            run.expected = name ? Of(SetBtNameCmd(Wide(text))) : Of(SetBtPinCmd(Wide(text)));
            run.firstWord = run.args[0];
            break;
        }
        case 4:
        case 5: {
            static const char* const kNames[] = {"lan-ip", "lan-mask", "lan-gateway", "lan-mac"};
            const char* sub = input.PickValueInArray(kNames);
            const std::string text = value();
            uint32_t address = 0;
            run.mayTake = sub[4] == 'm' && sub[5] == 'a' && sub[6] == 'c' ? ParseMacTail(text, address)
                                                                          : ParseAddress(text, address);
            run.args = {sub, "--", text};
            run.expected = sub[4] == 'i'   ? Of(SetIPCmd(address))
                           : sub[6] == 's' ? Of(SetMASKCmd(address))
                           : sub[4] == 'g' ? Of(SetGATECmd(address))
                                           : Of(SetMACCmd(address));
            run.firstWord = std::string(sub) + " " + FormatAddress(address);
            break;
        }
        case 6: {
            const std::string text = value();
            // off|on, 0|1, and false|true as JSON writes a switch.
            int index = ParseChoice(text, {"off", "on"});
            index = index >= 0 ? index : ParseChoice(text, {"false", "true"});
            run.mayTake = index >= 0;
            run.args = {"lan-dhcp", "--", text};
            run.expected = Of(SetLanDHCPCmd(index));
            run.firstWord = "lan-dhcp " + std::to_string(index);
            break;
        }
        default: {
            static const char* const kFixed[] = {"test-print", "cut",          "open-drawer", "factory-mode",
                                                 "hex-mode",   "wifi-factory", "bt-read-pin", "bt-check"};
            run.args = {input.PickValueInArray(kFixed)};
            run.firstWord = run.args[0];
            break;
        }
    }
    run.args.insert(run.args.begin(), {"tolctl", "--dry-run", "--show-secrets"});
    return run;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetOemCodePage("CP437");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const Run run = Build(input);
    std::istringstream in;
    std::ostringstream out, err;
    const int code = RunSubcommands(AddSendCommands, run.args, in, out, err);
    if (code != 0) {
        FUZZ_CHECK(code == 2, "exit code " + std::to_string(code));
        FUZZ_CHECK(out.str().empty(), "printed although refused: " + out.str());
        FUZZ_CHECK(!err.str().empty(), "refused without a reason");
        return 0;
    }
    FUZZ_CHECK(run.mayTake, "took values it should refuse: " + Joined(run.args));
    FUZZ_CHECK(err.str().empty(), err.str());
    const std::string printed = out.str();
    FUZZ_CHECK(!printed.empty() && printed.back() == '\n', printed);
    const Bytes bytes = Unhex(printed.substr(0, printed.size() - 1));
    FUZZ_CHECK(HexBytes(bytes.data(), bytes.size()) + "\n" == printed, "not hex bytes: " + printed);
    if (!run.expected.empty()) {
        FUZZ_CHECK(bytes == run.expected, "bytes other than the values stand for: " + Joined(run.args));
    }

    // Decoding gives one command, the same one, standing for exactly these bytes.
    const std::vector<std::string> lines = DecodeCommands(bytes);
    FUZZ_CHECK(lines.size() == 1, "decoded into " + std::to_string(lines.size()) + " lines");
    FUZZ_CHECK(lines[0].compare(0, run.firstWord.size(), run.firstWord) == 0,
               lines[0] + " does not begin with " + run.firstWord);
    Bytes rebuilt;
    std::string problem;
    FUZZ_CHECK(RebuildDecodedBytes(lines, rebuilt, problem) && rebuilt == bytes, problem + " " + lines[0]);
    return 0;
}
