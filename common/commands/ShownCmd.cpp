#include "commands/ShownCmd.h"

#include <vector>

#include "commands/Decode.h"
#include "values/Values.h"

SecretSpan PasswordSpan(const Cmd& cmd) {
    const unsigned char* data = cmd.GetData();
    const DecodeStep step = NextDecodeStep(data, static_cast<size_t>(cmd.GetLength()), true);
    SecretSpan span;
    if (step.kind == DecodeStep::Kind::Command) {
        const CmdFieldBytes bytes = LocateFields(*step.row, data);
        const FieldBytes* field = bytes.data();
        for (const CmdField& kind : step.row->fields) {
            if (kind.secret) {
                span.begin = static_cast<size_t>(field->at - data);
                span.end = span.begin + field->size;
            }
            ++field;
        }
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
    const std::vector<unsigned char> bytes(cmd.GetData(), cmd.GetData() + cmd.GetLength());
    std::string line;
    for (const std::string& decoded : DecodeCommands(bytes, !showSecrets && secret.end > secret.begin)) {
        line += (line.empty() ? "" : "; ") + decoded;
    }
    return line;
}
