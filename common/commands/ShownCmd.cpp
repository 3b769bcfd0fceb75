#include "ShownCmd.h"

#include <cstring>
#include <vector>

#include "Decode.h"
#include "Values.h"

SecretSpan PasswordSpan(const Cmd& cmd) {
    const unsigned char* data = cmd.GetData();
    const size_t length = static_cast<size_t>(cmd.GetLength());
    const DecodeStep step = NextDecodeStep(data, length, true);
    SecretSpan span;
    if (step.kind == DecodeStep::Kind::Command && std::strcmp(step.name, "wifi-station") == 0) {
        // After the 14 bytes of header, choices and lengths come the name and the password, one
        // byte per character.
        span.begin = 14 + size_t{data[11]};
        span.end = span.begin + data[12];
    }
    return span;
}

std::string ShownHex(const Cmd& cmd, SecretSpan secret, bool showSecrets) {
    std::string hex = HexBytes(cmd.GetData(), static_cast<size_t>(cmd.GetLength()));
    for (size_t i = secret.begin; i < secret.end && !showSecrets; ++i) {
        hex.replace(i * 3, 2, "**");
    }
    return hex;
}

std::string ShownDecoded(const Cmd& cmd, SecretSpan secret, bool showSecrets) {
    std::vector<unsigned char> bytes(cmd.GetData(), cmd.GetData() + cmd.GetLength());
    const bool hidden = !showSecrets && secret.end > secret.begin;
    for (size_t i = secret.begin; i < secret.end && hidden; ++i) {
        bytes[i] = '*';
    }
    std::string line;
    for (const std::string& decoded : DecodeCommands(bytes)) {
        line += (line.empty() ? "" : "; ") + decoded;
    }
    if (hidden) {
        const std::string stars = " password=\"" + std::string(secret.end - secret.begin, '*') + "\"";
        const size_t at = line.rfind(stars);
        if (at != std::string::npos) {
            line.replace(at, stars.size(), " password=(hidden)");
        }
    }
    return line;
}
