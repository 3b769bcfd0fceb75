#include "emulator/PrinterState.h"

#include <cstdio>
#include <cstring>

#include "commands/Decode.h"
#include "system/OemText.h"
#include "system/WideText.h"
#include "values/Values.h"

namespace {

using Json = PrinterState::Json;

const char kCounts[] = "counts.";

// A command that only acts is counted; the others set what their state path names.
bool IsCounted(const CmdRow& row) {
    return std::strncmp(row.state, kCounts, sizeof kCounts - 1) == 0;
}

Json Text(FieldBytes text) {
    return WideToUtf8(ConvertFromOem(text.at, static_cast<int>(text.size)));
}

// A field's value as the state file writes it: names as tolctl's options write them, a value
// that has no name there as its number.
Json FieldValue(const CmdField& field, FieldBytes bytes) {
    if (field.kind == FieldKind::Text) {
        return Text(bytes);  // may be empty, the last bytes of the command
    }
    const unsigned char value = bytes.at[0];
    switch (field.kind) {
        case FieldKind::Choice:
            return value < field.names.size() ? Json(field.names.begin()[value]) : Json(value);
        case FieldKind::Switch:
            return value <= 1 ? Json(value == 1) : Json(value);
        case FieldKind::Address:
            return FormatAddress(AddressAt(bytes.at));
        case FieldKind::MacTail: {
            char mac[12];
            std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X", bytes.at[0], bytes.at[1], bytes.at[2],
                          bytes.at[3]);
            return mac;
        }
        default:
            return value;
    }
}

// "ip,mask,gateway" as three fields named by `field`; any other text is kept whole under the
// field's own name.
void AddAddresses(Json& object, const CmdField& field, FieldBytes bytes) {
    uint32_t addresses[3] = {};
    if (SplitStationAddresses(bytes.at, bytes.size, addresses[0], addresses[1], addresses[2])) {
        const uint32_t* address = addresses;
        for (const char* name : field.names) {
            object[name] = FormatAddress(*address++);
        }
    } else {
        object[field.name] = Text(bytes);
    }
}

// The command as its state holds it: the one value, or an object of the named fields (texts
// first, then the others in the order sent).
Json StateOf(const CmdRow& row, const unsigned char* command) {
    const CmdFieldBytes bytes = LocateFields(row, command);
    Json object = Json::object();
    for (const bool texts : {true, false}) {
        const FieldBytes* at = bytes.data();
        for (const CmdField& field : row.fields) {
            const FieldBytes value = *at++;
            if (field.kind == FieldKind::Length || (field.kind == FieldKind::Text) != texts) {
                continue;
            }
            if (field.name == nullptr) {
                return FieldValue(field, value);
            }
            if (field.kind == FieldKind::Addresses) {
                AddAddresses(object, field, value);
            } else {
                object[field.name] = FieldValue(field, value);
            }
        }
    }
    return object;
}

// The member `name` of `object`; null when it has none.
const Json* Member(const Json& object, const std::string& name) {
    const auto it = object.find(name);
    return it != object.end() ? &*it : nullptr;
}

// A count as ToJson writes it, taken into `to`; 0 when absent.
bool TakeCount(const Json* value, const std::string& name, uint64_t& to, std::string& problem) {
    if (value != nullptr && !value->is_number_unsigned()) {
        problem = "'" + name + "' is not a count";
        return false;
    }
    to = value != nullptr ? value->get<uint64_t>() : 0;
    return true;
}

}  // namespace

PrinterState::PrinterState() : m_values(static_cast<size_t>(CmdCatalog::end() - CmdCatalog::begin())) {}

void PrinterState::ApplyConnection(const std::vector<unsigned char>& bytes, uint64_t dropped) {
    ++m_nConnections;
    m_nUndecoded += dropped;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const DecodeStep step = NextDecodeStep(bytes.data() + pos, bytes.size() - pos, true);
        if (step.kind == DecodeStep::Kind::Command) {
            Value& value = m_values[static_cast<size_t>(step.row - CmdCatalog::begin())];
            if (IsCounted(*step.row)) {
                ++value.count;
            } else {
                value.setting = StateOf(*step.row, bytes.data() + pos);
            }
        } else {
            m_nUndecoded += step.length;
        }
        pos += step.length;
    }
}

PrinterState::Json PrinterState::ToJson() const {
    // The catalogue lists the settings in the file's order, then the counts.
    Json state = Json::object();
    const Value* value = m_values.data();
    for (const CmdRow& row : CmdCatalog()) {
        const Value& of = *value++;
        const std::string path = row.state;
        const size_t dot = path.find('.');
        if (IsCounted(row)) {
            state["counts"][path.substr(dot + 1)] = of.count;
        } else if (of.setting.is_null()) {
            continue;  // never received
        } else if (dot == std::string::npos) {
            state[path] = of.setting;
        } else {
            state[path.substr(0, dot)][path.substr(dot + 1)] = of.setting;
        }
    }
    state["connections"] = m_nConnections;
    state["undecoded-bytes"] = m_nUndecoded;
    return state;
}

bool PrinterState::Restore(const Json& state, std::string& problem) {
    if (!state.is_object()) {
        problem = "it is not an object";
        return false;
    }
    Value* value = m_values.data();
    for (const CmdRow& row : CmdCatalog()) {
        Value& to = *value++;
        const std::string path = row.state;
        const size_t dot = path.find('.');
        const Json* at = Member(state, path.substr(0, dot));
        if (at != nullptr && dot != std::string::npos) {
            if (!at->is_object()) {
                problem = "'" + path.substr(0, dot) + "' is not an object";
                return false;
            }
            at = Member(*at, path.substr(dot + 1));
        }
        if (IsCounted(row)) {
            if (!TakeCount(at, path, to.count, problem)) {
                return false;
            }
        } else {
            to.setting = at != nullptr ? *at : Json();
        }
    }
    return TakeCount(Member(state, "connections"), "connections", m_nConnections, problem) &&
           TakeCount(Member(state, "undecoded-bytes"), "undecoded-bytes", m_nUndecoded, problem);
}
