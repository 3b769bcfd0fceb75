// tolctl ports under Wine: USB printers faked in the registry, COM and LPT ports that the bench
// links into the prefix's dosdevices folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "system/WideText.h"
#include "tests/wine/FakeUsbPrinter.h"
#include "tests/wine/WineBench.h"
#include "tolctl/Tolctl.h"

namespace {

namespace bench = wine_bench;

std::vector<std::string> PortLines() {
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunTolctl({"tolctl", "ports"}, in, out, err), 0) << err.str();
    std::vector<std::string> lines;
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The line that begins with `uri` followed by blanks, or "" when there is none.
std::string LineOf(const std::vector<std::string>& lines, const std::string& uri) {
    for (const std::string& line : lines) {
        if (line.compare(0, uri.size() + 1, uri + " ") == 0) {
            return line;
        }
    }
    return "";
}

class PortsWinTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bench::Available()) << "run through tests/wine/bench.sh";
        FakeUsbPrinter::RemoveAll();
    }
    void TearDown() override {
        for (const std::string& name : m_links) {
            bench::Remove(name);
        }
        m_printers.clear();
        FakeUsbPrinter::RemoveAll();
    }
    void Link(const std::string& name) {
        m_links.push_back(name);
        ASSERT_TRUE(bench::Pty(name)) << name;
    }
    FakeUsbPrinter& Plug(const std::string& serial) {
        m_printers.push_back(std::make_unique<FakeUsbPrinter>(serial));
        EXPECT_TRUE(m_printers.back()->Created());
        Link(m_printers.back()->DosName());
        return *m_printers.back();
    }

  private:
    std::vector<std::unique_ptr<FakeUsbPrinter>> m_printers;
    std::vector<std::string> m_links;
};

TEST_F(PortsWinTest, ListsTheUsbPrintersOfTheSearchAndTheComAndLptPortsThere) {
    const FakeUsbPrinter& first = Plug("FAKE0001");
    const FakeUsbPrinter& last = Plug("FAKE0002");
    Link("lpt2");
    Link("com7");
    bench::Absent("com5");

    const std::vector<std::string> lines = PortLines();
    ASSERT_GE(lines.size(), 4u);
    // The USB printers come first, in the order the search opens them; it keeps the last.
    EXPECT_EQ(lines[0], "usb:         USB printer " + WideToUtf8(first.DevicePath()) +
                            " at Port_#0001.Hub_#0002 (not used: usb: writes to the last one)");
    EXPECT_EQ(lines[1], "usb:         USB printer " + WideToUtf8(last.DevicePath()) +
                            " at Port_#0001.Hub_#0002 (the one usb: and USB001 write to)");
    // The dialogs' names where tolctl takes them, the device otherwise.
    EXPECT_EQ(LineOf(lines, "LPT2"), "LPT2         parallel port");
    EXPECT_EQ(LineOf(lines, "serial:COM7"), "serial:COM7  serial port");
    EXPECT_EQ(LineOf(lines, "serial:COM5"), "");

    bench::Remove("com7");
    EXPECT_EQ(LineOf(PortLines(), "serial:COM7"), "");
}

}  // namespace
