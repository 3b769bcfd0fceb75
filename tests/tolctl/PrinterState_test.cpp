#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/Commands.h"
#include "emulator/PrinterState.h"
#include "tests/commands/CmdTestUtil.h"

namespace {

using Json = nlohmann::json;

// Bytes of commands one after another, as one connection delivers them.
Bytes Of(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Json StateOf(const PrinterState& state) {
    return Json::parse(state.ToJson().dump());
}

class PrinterStateTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(SetOemCodePage("CP437")); }
};

TEST_F(PrinterStateTest, ValuesWithoutANameAreKeptAsNumbers) {
    PrinterState state;
    const WideString ap = W("AP");
    const StationText station = BuildStationText(W("Net"), W("pw"), 0x0A000002, 0xFFFFFF00, 0x0A000001);
    state.ApplyConnection(Of({BytesOf(SetAPParaCmd(7, 2, ap)),
                              BytesOf(WifiTestParaCmd(9, 8, station.nameLength, station.passwordLength,
                                                      station.addressLength, station.text)),
                              BytesOf(SetLanDHCPCmd(2))}),
                          0);
    const Json json = StateOf(state);
    EXPECT_EQ(json["wifi-ap"], Json::parse(R"({"name": "AP", "mode": 7})"));
    EXPECT_EQ(json["wifi-station"], Json::parse(R"({"ssid": "Net", "password": "pw", "auth": 9, "enc": 8,
                                                   "ip": "10.0.0.2", "mask": "255.255.255.0",
                                                   "gateway": "10.0.0.1"})"));
    EXPECT_EQ(json["lan"], Json::parse(R"({"dhcp": 2})"));
}

TEST_F(PrinterStateTest, StationTextThatIsNotThreeAddressesIsKeptWhole) {
    for (const std::string& address :
         {std::string("10.0.0.2,255.255.255.0"), std::string("010.0.0.2,1.1.1.1,2.2.2.2"),
          std::string("a,b,c,d"), std::string()}) {
        PrinterState state;
        const WideString text = W("Net" + address);
        state.ApplyConnection(BytesOf(WifiTestParaCmd(3, 4, 3, 0, static_cast<int>(address.size()), text)),
                              0);
        const Json station = StateOf(state)["wifi-station"];
        EXPECT_EQ(station["address"], address);
        EXPECT_FALSE(station.contains("ip")) << address;
        EXPECT_EQ(station["password"], "");
    }
}

TEST_F(PrinterStateTest, TextComesFromTheCodePageAndUndecodedBytesAreCounted) {
    PrinterState state;
    // "é" is one CP437 byte on the wire and two UTF-8 bytes in the file.
    state.ApplyConnection(Of({BytesOf(SetBtNameCmd(W("Café"))), Bytes{0x41, 0x42}, BytesOf(CutPaper()),
                              Bytes{0x1f, 0x1b, 0x1d, 0x00, 0x0a}}),
                          7);
    state.ApplyConnection({}, 0);
    const Json json = StateOf(state);
    EXPECT_EQ(json["bt-name"], "Café");
    EXPECT_EQ(json["counts"]["cut"], 1);
    EXPECT_EQ(json["undecoded-bytes"], 2 + 5 + 7);  // unknown, cut short, past the bytes kept
    EXPECT_EQ(json["connections"], 2);
    EXPECT_FALSE(json.contains("lan"));
}

}  // namespace
