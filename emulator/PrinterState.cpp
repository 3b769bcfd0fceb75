#include "PrinterState.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "Decode.h"
#include "OemText.h"
#include "Values.h"
#include "WideText.h"

namespace {

// The commands that are counted rather than kept, in the file's order.
const char* const kCounted[] = {"test-print",   "cut",         "open-drawer", "factory-mode",  "hex-mode",
                                "wifi-factory", "bt-read-pin", "bt-check",    "status-request"};
const char* const kCountNames[] = {"test-print",   "cut",         "open-drawer", "factory-mode",   "hex-mode",
                                   "wifi-factory", "bt-read-pin", "bt-check",    "status-requests"};

using Json = PrinterState::Json;

Json Text(const unsigned char* bytes, size_t count) {
    return WideToUtf8(ConvertFromOem(bytes, static_cast<int>(count)));
}

// A byte that selects one of `names`; a value without a name stays a number.
Json Choice(unsigned char value, std::initializer_list<const char*> names) {
    if (value < names.size()) {
        return names.begin()[value];
    }
    return value;
}

// "ip,mask,gateway" as three fields; any other text is kept whole as "address".
void AddStationAddresses(Json& station, const unsigned char* bytes, size_t count) {
    uint32_t ip = 0, mask = 0, gateway = 0;
    if (SplitStationAddresses(bytes, count, ip, mask, gateway)) {
        station["ip"] = FormatAddress(ip);
        station["mask"] = FormatAddress(mask);
        station["gateway"] = FormatAddress(gateway);
    } else {
        station["address"] = Text(bytes, count);
    }
}

}  // namespace

void PrinterState::ApplyConnection(const std::vector<unsigned char>& bytes, uint64_t dropped) {
    ++m_nConnections;
    m_nUndecoded += dropped;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const DecodeStep step = NextDecodeStep(bytes.data() + pos, bytes.size() - pos, true);
        if (step.kind == DecodeStep::Kind::Command) {
            Apply(step.name, bytes.data() + pos, step.length);
        } else {
            m_nUndecoded += step.length;
        }
        pos += step.length;
    }
}

// The field offsets are those of the commands' layouts (common/commands); decode reads the
// same bytes into its lines.
void PrinterState::Apply(const char* name, const unsigned char* b, size_t) {
    const std::string command = name;
    for (size_t i = 0; i < sizeof kCounted / sizeof kCounted[0]; ++i) {
        if (command == kCounted[i]) {
            ++m_counts[i];
            return;
        }
    }
    if (command == "wifi-ap") {
        m_wifiAp = Json::object();
        m_wifiAp["name"] = Text(b + 11, b[10]);
        m_wifiAp["mode"] = Choice(b[9], {"ap", "sta", "apsta"});
    } else if (command == "wifi-station") {
        const unsigned char* text = b + 14;
        m_station = Json::object();
        m_station["ssid"] = Text(text, b[11]);
        m_station["password"] = Text(text + b[11], b[12]);
        m_station["auth"] = Choice(b[9], {"open", "shared", "wpapsk", "wpa2psk"});
        m_station["enc"] = Choice(b[10], {"none", "wep-h", "wep-a", "tkip", "aes"});
        AddStationAddresses(m_station, text + b[11] + b[12], b[13]);
    } else if (command == "bt-name") {
        m_btName = Text(b + 5, b[4]);
    } else if (command == "bt-pin") {
        m_btPin = Text(b + 5, b[4]);
    } else if (command == "lan-ip") {
        m_lanIp = FormatAddress(AddressAt(b + 4));
    } else if (command == "lan-mask") {
        m_lanMask = FormatAddress(AddressAt(b + 4));
    } else if (command == "lan-gateway") {
        m_lanGateway = FormatAddress(AddressAt(b + 4));
    } else if (command == "lan-mac") {
        char mac[12];
        std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X", b[6], b[7], b[8], b[9]);
        m_lanMac = mac;
    } else if (command == "lan-dhcp") {
        m_lanDhcp = b[7] <= 1 ? Json(b[7] == 1) : Json(b[7]);
    }
}

PrinterState::Json PrinterState::ToJson() const {
    Json state = Json::object();
    if (!m_wifiAp.is_null()) {
        state["wifi-ap"] = m_wifiAp;
    }
    if (!m_station.is_null()) {
        state["wifi-station"] = m_station;
    }
    if (!m_btName.is_null()) {
        state["bt-name"] = m_btName;
    }
    if (!m_btPin.is_null()) {
        state["bt-pin"] = m_btPin;
    }
    Json lan = Json::object();
    const std::pair<const char*, const Json*> fields[] = {{"ip", &m_lanIp},
                                                          {"mask", &m_lanMask},
                                                          {"gateway", &m_lanGateway},
                                                          {"mac", &m_lanMac},
                                                          {"dhcp", &m_lanDhcp}};
    for (const auto& field : fields) {
        if (!field.second->is_null()) {
            lan[field.first] = *field.second;
        }
    }
    if (!lan.empty()) {
        state["lan"] = lan;
    }
    Json counts = Json::object();
    for (size_t i = 0; i < sizeof kCountNames / sizeof kCountNames[0]; ++i) {
        counts[kCountNames[i]] = m_counts[i];
    }
    state["counts"] = counts;
    state["connections"] = m_nConnections;
    state["undecoded-bytes"] = m_nUndecoded;
    return state;
}
