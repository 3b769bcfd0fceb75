// The emulator in-process: what each connection delivered reaches its callback, as the printer's.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "emulator/Emulator.h"
#include "tests/tolctl/FleetPeer.h"

namespace {

struct Delivered {
    size_t printer;
    std::string name;
    std::string bytes;
    Delivery::Ending ending;
};

TEST(EmulatorTest, EachConnectionsBytesAndEndingReachTheCallbackOfItsPrinter) {
    std::vector<PlannedPrinter> printers;
    std::string problem;
    ASSERT_TRUE(PlanPrinters("127.0.2.40-41", {"127.0.2.41=reset"}, printers, problem)) << problem;
    std::vector<Delivered> delivered;
    Emulator emulator(
        2, std::chrono::seconds(10),
        EmulatorCallbacks{[&delivered](const Delivery& d) {
                              delivered.push_back(
                                  {d.printer, d.name, std::string(d.bytes.begin(), d.bytes.end()), d.ending});
                              return true;
                          },
                          [](const EmulatorProblem&) { ADD_FAILURE() << "a problem"; }});
    std::error_code error;
    ASSERT_TRUE(emulator.Listen(printers, 0, problem, error)) << problem << ": " << error.message();
    ASSERT_EQ(emulator.PrinterCount(), 2u);
    bool served = false;
    std::thread loop([&] { served = emulator.Run(); });

    const std::string port = std::to_string(emulator.Port());
    FleetPeer first("127.0.2.40", emulator.Port());
    ASSERT_EQ(first.Error(), 0);
    ASSERT_TRUE(first.Send(std::string("\x1d\x56\x01\x10\x04\x01", 6)));
    EXPECT_EQ(first.Read(1, 2000), "\x16");  // the status answer, while the peer waits
    first.Close();
    FleetPeer second("127.0.2.41", emulator.Port());
    loop.join();

    EXPECT_TRUE(served);
    ASSERT_EQ(delivered.size(), 2u);
    std::sort(delivered.begin(), delivered.end(),
              [](const Delivered& a, const Delivered& b) { return a.printer < b.printer; });
    EXPECT_EQ(delivered[0].name, "127.0.2.40:" + port);
    EXPECT_EQ(delivered[0].bytes, std::string("\x1d\x56\x01\x10\x04\x01", 6));
    EXPECT_EQ(delivered[0].ending, Delivery::Ending::Closed);
    EXPECT_EQ(delivered[1].name, "127.0.2.41:" + port);
    EXPECT_EQ(delivered[1].bytes, "");
    EXPECT_EQ(delivered[1].ending, Delivery::Ending::Reset);
}

}  // namespace
