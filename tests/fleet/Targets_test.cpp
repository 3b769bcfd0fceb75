#include <gtest/gtest.h>

#include "fleet/Targets.h"

namespace {

TEST(TargetsTest, FileLinesGiveTargetsAndOverridesWithoutCommentsAndBlankLines) {
    const std::string text =
        "\xEF\xBB\xBF# the shop's tills\n"
        "socket://127.0.40.51 lan.ip=192.168.1.51 bt-name=Till-3\r\n"
        "\n"
        "   \t\n"
        "  socket://127.0.40.52   bt-name=\"Till #4\" # the one by the door\n"
        "serial:/dev/ttyUSB0?baud=19200\n"
        "socket://127.0.40.53 bt-name=\"say \\\"hi\\\" \\\\o/\" wifi-station.password=a#b c=\"\"\n"
        "socket://127.0.40.54 bt-name=\"open\n"
        "socket://127.0.40.55  # status 16\n";  // as tolctl scan --probe lists it
    std::vector<TargetLine> lines;
    std::vector<std::string> errors;
    ParseTargetsText(text, "t.txt", lines, errors);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].origin, "t.txt:2");
    EXPECT_EQ(lines[0].target, "socket://127.0.40.51");
    EXPECT_EQ(lines[0].overrides, (std::vector<std::string>{"lan.ip=192.168.1.51", "bt-name=Till-3"}));
    EXPECT_EQ(lines[1].origin, "t.txt:5");
    EXPECT_EQ(lines[1].overrides, std::vector<std::string>{"bt-name=Till #4"});
    EXPECT_EQ(lines[2].target, "serial:/dev/ttyUSB0?baud=19200");
    EXPECT_TRUE(lines[2].overrides.empty());
    // '#' inside a word is text: a password with one is not cut short.
    EXPECT_EQ(lines[3].overrides,
              (std::vector<std::string>{"bt-name=say \"hi\" \\o/", "wifi-station.password=a#b", "c="}));
    EXPECT_EQ(lines[4].target, "socket://127.0.40.55");
    EXPECT_TRUE(lines[4].overrides.empty());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "t.txt:8: a quote is not closed");
}

std::vector<Target> Expand(const std::string& text, bool windowsNames = false) {
    std::vector<Target> targets;
    std::string error;
    EXPECT_TRUE(ExpandTarget(text, windowsNames, targets, error)) << text << ": " << error;
    return targets;
}

TEST(TargetsTest, RangesAndNetworksExpandToOneTargetPerAddress) {
    const std::vector<Target> range = Expand("socket://127.0.1.8-10:9101");
    ASSERT_EQ(range.size(), 3u);
    EXPECT_EQ(range[0].name, "socket://127.0.1.8:9101");
    EXPECT_EQ(range[2].name, "socket://127.0.1.10:9101");
    EXPECT_EQ(range[2].port.host, "127.0.1.10");
    EXPECT_EQ(range[2].port.tcpPort, 9101);
    EXPECT_TRUE(range[2].device.empty());

    // A network's own and broadcast addresses are no printer's; a /31 and a /32 have none.
    const std::vector<Target> network = Expand("socket://127.0.1.0/24");
    ASSERT_EQ(network.size(), 254u);
    EXPECT_EQ(network[0].name, "socket://127.0.1.1");
    EXPECT_EQ(network[253].name, "socket://127.0.1.254");
    EXPECT_EQ(network[253].port.tcpPort, 9100);
    EXPECT_EQ(Expand("socket://127.0.1.4/30").size(), 2u);
    EXPECT_EQ(Expand("socket://127.0.1.4/31").size(), 2u);
    EXPECT_EQ(Expand("socket://127.0.1.4-7").size(), 4u);  // a range is taken as written

    // A host name with a dash is a host name.
    const std::vector<Target> named = Expand("socket://till-3.shop:9100");
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].port.host, "till-3.shop");

    struct Refused {
        const char* text;
        const char* reason;
    };
    for (const Refused& r : {Refused{"socket://127.0.1.5-3", "ends before it starts"},
                             Refused{"socket://127.0.1.0/8", "prefix length"},
                             Refused{"socket://127.0.1.0/24:0x2390", "TCP port: '0x2390' is not a decimal"},
                             Refused{"socket://127.0.1.0/24:0", "TCP port: must be 1-65535"},
                             Refused{"socket://127.1", "four decimal fields"},
                             Refused{"socket://127.0.14.040", "leading zeros are ambiguous"},
                             Refused{"socket://127.0.1.08-10", "leading zeros are ambiguous"},
                             Refused{"127.0.0.1-5", "is not a port"}, Refused{"COM1", "is not a port"}}) {
        std::vector<Target> targets;
        std::string error;
        EXPECT_FALSE(ExpandTarget(r.text, false, targets, error)) << r.text;
        EXPECT_TRUE(targets.empty()) << r.text;
        EXPECT_NE(error.find(r.reason), std::string::npos) << r.text << ": " << error;
    }
}

TEST(TargetsTest, DevicesAreNamedSoThatNoTwoJobsShareOne) {
#ifdef _WIN32
    // "\\.\COM3", "\\?\COM3", "COM3:" and "com3" are one port to Windows.
    for (const char* name : {"serial:\\\\.\\com3", "serial://./COM3", "parallel:\\\\?\\COM3",
                             "parallel:com3:", "serial:COM3?baud=19200"}) {
        EXPECT_EQ(Expand(name)[0].device, "COM3") << name;
    }
#else
    // Where nothing is (yet), by the path without "//" and "/./" (a device by its number: Status_posix_test).
    EXPECT_EQ(Expand("serial:/nonexistent//./ttyUSB0?baud=19200")[0].device, "/nonexistent/ttyUSB0");
    EXPECT_EQ(Expand("parallel:/nonexistent/lp0")[0].device, "/nonexistent/lp0");
#endif
    // Every USB target is one device as far as jobs go: the search may find any printer.
    EXPECT_EQ(Expand("usb:")[0].device, "usb");
    EXPECT_EQ(Expand("usb:/nonexistent/lp1")[0].device, "usb");
    EXPECT_EQ(Expand("USB001", true)[0].device, "usb");
    EXPECT_EQ(Expand("com1", true)[0].device, "COM1");

    // The same printer written two ways is one identity.
    EXPECT_EQ(TargetIdentity(Expand("socket://Printer.Local")[0]),
              TargetIdentity(Expand("socket://printer.local:9100")[0]));
    EXPECT_NE(TargetIdentity(Expand("socket://127.0.0.1:9100")[0]),
              TargetIdentity(Expand("socket://127.0.0.1:9101")[0]));
    EXPECT_EQ(TargetIdentity(Expand("serial:/nonexistent/ttyS0?baud=9600")[0]),
              TargetIdentity(Expand("serial:/nonexistent/ttyS0?baud=19200")[0]));
    EXPECT_EQ(TargetIdentity(Expand("usb:", true)[0]), TargetIdentity(Expand("USB001", true)[0]));
}

TEST(TargetsTest, LabelsComeFromLabelColumnsAndWordsAndSelectLinesCommentColumnsAreSkipped) {
    std::vector<TargetLine> lines;
    std::vector<std::string> errors;
    ParseTargetsCsv(
        "target,label.shop,//a,//a,label.till,bt-name\n"
        "socket://127.0.30.1,North,x,y,,T\n"
        "socket://127.0.30.2-3,South,,,T{n},\n",
        "t.csv", lines, errors);
    ParseTargetsText("socket://127.0.30.9 label.shop=North bt-name=x label.till=\"a b\" label.x=\n", "t.txt",
                     lines, errors);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(errors.empty()) << errors[0];
    EXPECT_EQ(lines[0].labels, (TargetLabels{{"shop", "North"}}));
    EXPECT_EQ(lines[0].overrides, std::vector<std::string>{"bt-name=T"});
    EXPECT_EQ(lines[1].labels, (TargetLabels{{"shop", "South"}, {"till", "T{n}"}}));
    EXPECT_EQ(lines[2].labels, (TargetLabels{{"shop", "North"}, {"till", "a b"}}));
    EXPECT_EQ(lines[2].overrides, std::vector<std::string>{"bt-name=x"});
    std::vector<Target> printers = ExpandTargetLines({lines[1]}, errors);
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[1].number, 2u);
    EXPECT_EQ(LabelsOf(printers[1]), (TargetLabels{{"shop", "South"}, {"till", "T2"}})) << "{n}: its number";

    for (const auto& c : std::vector<std::pair<std::string, std::string>>{
             {"target,label.sh-op\n", "t.csv row 1, column 2: 'label.sh-op': a label's name is 1-32 letters"},
             {"target,label." + std::string(33, 'x') + "\n", "a label's name is"},
             {"target,shop\n", "t.csv row 1, column 2: 'shop': not a profile key"},
             {"target,label.a\nsocket://127.0.30.1,\"x\ny\"\n", "t.csv row 2, column 2: label.a: '"},
             {"target,label.till\nsocket://127.0.30.1-2,{label.shop}\n",
              "label.till: '{label.shop}': a label numbers its line's printers with {n}, and names no "
              "label"}}) {
        errors.clear();
        ParseTargetsCsv(c.first, "t.csv", lines, errors);
        ASSERT_EQ(errors.size(), 1u) << c.first;
        EXPECT_NE(errors[0].find(c.second), std::string::npos) << errors[0];
    }
    errors.clear();
    ParseTargetsText("socket://127.0.30.1 label.shop label.a=1 label.a=2\n", "t.txt", lines, errors);
    EXPECT_EQ(errors,
              (std::vector<std::string>{
                  "t.txt:1: 'label.shop': a label is written label.NAME=VALUE (like label.shop=North)",
                  "t.txt:1: label.a: given twice on one line"}));

    // --label takes the lines with all the labels given; NAME= those without it.
    std::string text =
        "socket://127.0.30.1 label.shop=North label.till=1\nsocket://127.0.30.2 label.shop=North\n"
        "socket://127.0.30.3 label.shop=South\n";
    auto read = [&text](std::vector<std::string> labels, std::vector<std::string> targets = {}) {
        TargetSources sources;
        sources.file = "t.txt";
        sources.fileText = &text;
        sources.labels = std::move(labels);
        sources.targets = std::move(targets);
        std::vector<std::string> errors;
        std::string found;
        for (const TargetLine& line : ReadTargetLines(sources, errors)) {
            found += line.target.substr(18) + " ";
        }
        return errors.empty() ? found : errors[0];
    };
    EXPECT_EQ(read({"shop=North"}), "1 2 ");
    EXPECT_EQ(read({"shop=North", "till=1"}), "1 ");
    EXPECT_EQ(read({"till="}), "2 3 ");
    EXPECT_EQ(read({"shop=West"}), "--label: no line of t.txt has 'shop=West'");
    EXPECT_EQ(read({"shop"}), "--label: 'shop' is not NAME=VALUE (like --label shop=North)");
    EXPECT_EQ(read({"shop=North"}, {"socket://127.0.30.9"}),
              "--label: selects lines of the targets file; --target names printers without labels");
    // A label that numbers a line's printers cannot select some of them.
    text += "socket://127.0.30.4-5 label.shop=East label.till={n}\n";
    EXPECT_EQ(read({"shop=East"}), "4-5 ");
    EXPECT_EQ(read({"till=1"}),
              "--label: t.txt:4 numbers its printers' till ('{n}'): select by a label that the line gives");
}

TEST(TargetsTest, SpreadsheetsSavedAsUtf16OrWithSemicolonsOrTabsAreRead) {
    // As spreadsheets save them: semicolons where the comma is the decimal sign, or "Unicode
    // text", UTF-16 with tabs between the cells.
    auto read = [](const std::string& name, const std::string& text) {
        TargetSources sources;
        sources.file = name;
        sources.fileText = &text;
        std::vector<std::string> errors;
        std::string found;
        for (const TargetLine& line : ReadTargetLines(sources, errors)) {
            found += line.target + " " + LabelsText(line.labels) + " " +
                     (line.overrides.empty() ? "" : line.overrides[0]) + ";";
        }
        return errors.empty() ? found : errors[0];
    };
    EXPECT_EQ(read("t.csv",
                   "\xEF\xBB\xBFtarget;label.shop;bt-name\r\nsocket://127.0.30.4;North, East;\"Till;1\"\r\n"),
              "socket://127.0.30.4 shop=North, East bt-name=Till;1;");
    std::string utf16 = "\xFF\xFE";  // little-endian; # stands for the a-umlaut, E4 00
    for (const char c : std::string("target\tbt-name\r\nCOM1\tK#sse 1\r\n")) {
        utf16 += c == '#' ? std::string("\xE4\0", 2) : std::string{c, '\0'};
    }
    EXPECT_EQ(read("t.csv", utf16), "COM1  bt-name=K\xC3\xA4sse 1;");
    EXPECT_EQ(read("t.txt", std::string("COM1\0\n", 6)),
              "t.txt: holds 00 bytes, and is not UTF-16 with a byte order mark: save it as UTF-8 text");
}

TEST(TargetsTest, TemplatesFillInLabelsAndTheNumberAndRefuseWhatIsNotAPlaceholder) {
    const TargetLabels labels = {{"shop", "North"}, {"till", "2"}};
    std::string made, problem;
    EXPECT_TRUE(ExpandTemplate("{label.shop}-Till-{n}{{x}}{label.till}", labels, 3, made, problem));
    EXPECT_EQ(made, "North-Till-3{x}2");
    EXPECT_FALSE(ExpandTemplate("{label.floor}", labels, 1, made, problem));
    EXPECT_EQ(problem, "{label.floor}: this printer has no label floor (it has shop, till)");
    EXPECT_EQ(TemplateProblem("a}b").substr(0, 38), "a } without its {: write }} for a brac");
    EXPECT_EQ(TemplateProblem("{n").substr(0, 35), "a { is not closed: write {{ for a b");
    EXPECT_EQ(TemplateProblem("{label.a b}").substr(0, 40), "'{label.a b}' is not a placeholder: writ");
    EXPECT_EQ(TemplateProblem("{shop}{n}"), TemplateProblem("{shop}"));
}

}  // namespace
