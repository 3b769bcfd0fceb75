// tolctl console as a user runs it: the real program with emulated printers, its API asked over
// HTTP as the page asks it, and the requests it must refuse.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "commands/SingleCmds.h"
#include "http/HttpClient.h"
#include "tests/support/FakePrinters.h"
#include "tests/support/TolctlProgram.h"
#include "tests/support/TolctlRun.h"

namespace {

using namespace tolctl_program;

const std::string kSecret = "sesame-pass-42";

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// `tolctl console --no-browser` on a free loopback port, keeping its state in `stateDir` and its
// record beside it (the same one each time it is started with that folder).
class Console : public TolctlProgram {
  public:
    explicit Console(const std::string& stateDir)
        : TolctlProgram({"console", "--no-browser", "--listen", "127.0.0.1:0", "--state-dir", stateDir,
                         "--record", stateDir + "-record.sqlite"},
                        {"^console on http://127\\.0\\.0\\.1:([0-9]+)/\\?token="}) {
        m_token = Output().WaitFor("token=([A-Za-z0-9_-]{22})\n");
    }
    const std::string& Token() const { return m_token; }
    std::string Host() const { return "127.0.0.1:" + std::to_string(Port()); }

    /// A request with the token (Bearer) unless `headers` are given.
    HttpAnswer Fetch(const std::string& method,
                     const std::string& path,
                     const std::string& body = "",
                     std::vector<std::pair<std::string, std::string>> headers = {}) const {
        if (headers.empty()) {
            headers = {{"Authorization", "Bearer " + m_token}};
        }
        return HttpFetch("127.0.0.1", Port(), method, path, headers, body);
    }
    /// The job's report once it is done (30 s at most).
    std::string WaitForJob(const std::string& id) const {
        std::string report;
        for (int i = 0; i < 300 && report.find("\"done\": true") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            report = Fetch("GET", "/api/jobs/" + id).body;
        }
        return report;
    }

  private:
    std::string m_token;
};

TEST(TolctlConsoleTest, EveryRequestNeedsTheTokenTheHostAndTheOrigin) {
    TempDir dir;
    Console console(dir / "state");
    ASSERT_GT(console.Port(), 0);
    const std::string noToken =
        "\"error\": \"the console's token is missing or wrong; open the address tolctl console printed\"";

    // Without the token, or with a wrong one: 401, the page too.
    HttpAnswer answer = console.Fetch("GET", "/api/printers", "", {{"X-None", "1"}});
    EXPECT_EQ(answer.status, 401);
    EXPECT_NE(answer.body.find(noToken), std::string::npos) << answer.body;
    EXPECT_EQ(
        console.Fetch("GET", "/api/printers", "", {{"Authorization", "Bearer x" + console.Token()}}).status,
        401);
    const std::string name = "tolctl_console_" + std::to_string(console.Port());
    EXPECT_EQ(console.Fetch("GET", "/api/printers", "", {{"Cookie", name + "=wrong"}}).status, 401);
    // The cookie is the port's own: another console's on this host is not this one's.
    EXPECT_EQ(
        console.Fetch("GET", "/api/printers", "", {{"Cookie", "tolctl_console=" + console.Token()}}).status,
        401);
    answer = console.Fetch("GET", "/", "", {{"X-None", "1"}});
    EXPECT_EQ(answer.status, 401);
    EXPECT_EQ(answer.Header("content-type"), "text/html; charset=utf-8");
    EXPECT_EQ(console.Fetch("GET", "/?token=wrong", "", {{"X-None", "1"}}).status, 401);

    // The first load with the token sets the cookie, which serves the page from then on.
    answer = console.Fetch("GET", "/?token=" + console.Token(), "", {{"X-None", "1"}});
    EXPECT_EQ(answer.status, 303);
    EXPECT_EQ(answer.Header("location"), "/");
    EXPECT_EQ(answer.Header("set-cookie"),
              name + "=" + console.Token() + "; HttpOnly; SameSite=Strict; Path=/");
    const std::pair<std::string, std::string> cookie{"Cookie", "a=b; " + name + "=" + console.Token()};
    answer = console.Fetch("GET", "/", "", {cookie});
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.body.find("<html"), std::string::npos);
    EXPECT_EQ(answer.Header("content-security-policy").find("default-src 'self'"), 0u);
    EXPECT_EQ(answer.Header("x-content-type-options"), "nosniff");
    EXPECT_EQ(console.Fetch("GET", "/api/printers", "", {cookie}).status, 200);
    EXPECT_EQ(console.Fetch("GET", "/api/printers").status, 200);  // Bearer

    // Another host name (DNS rebinding) is refused; localhost with the port is this console.
    const std::pair<std::string, std::string> bearer{"Authorization", "Bearer " + console.Token()};
    const std::string port = std::to_string(console.Port());
    EXPECT_EQ(
        console.Fetch("GET", "/api/printers", "", {bearer, {"Host", "attacker.example:" + port}}).status,
        403);
    EXPECT_EQ(console.Fetch("GET", "/api/printers", "", {bearer, {"Host", "127.0.0.1"}}).status, 403);
    EXPECT_EQ(console.Fetch("GET", "/api/printers", "", {bearer, {"Host", "localhost:" + port}}).status, 200);

    // A change asked by a page of another origin is refused; one of this origin is served.
    const std::string add = R"({"add": ["socket://127.0.20.9"]})";
    EXPECT_EQ(
        console.Fetch("POST", "/api/printers", add, {cookie, {"Origin", "http://attacker.example"}}).status,
        403);
    EXPECT_EQ(console.Fetch("POST", "/api/printers", add, {cookie, {"Origin", "null"}}).status, 403);
    EXPECT_EQ(console.Fetch("GET", "/api/printers").body.find("127.0.20.9"), std::string::npos);
    EXPECT_EQ(
        console.Fetch("POST", "/api/printers", add, {cookie, {"Origin", "http://" + console.Host()}}).status,
        200);

    // Bodies over 1 MiB are not read, forms too (one limit); wrong methods and unknown paths say so.
    answer = console.Fetch("POST", "/api/check", std::string(1024 * 1024 + 1, ' '));
    EXPECT_EQ(answer.status, 413);
    EXPECT_NE(answer.body.find("\"error\": \"the body is larger than 1 MiB\""), std::string::npos);
    answer = console.Fetch("POST", "/api/check", "a=" + std::string(9000, 'b'),
                           {bearer, {"Content-Type", "application/x-www-form-urlencoded"}});
    EXPECT_EQ(answer.status, 400);
    EXPECT_NE(answer.body.find("the body: not JSON"), std::string::npos) << answer.body;
    // A body sent in chunks, whose length is not known first, is not read at all.
    const UniqueFd fd = ConnectTo(console.Port());
    ASSERT_TRUE(fd.Valid());
    const std::string chunked = "POST /api/check HTTP/1.1\r\nHost: " + console.Host() +
                                "\r\nAuthorization: Bearer " + console.Token() +
                                "\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n";
    ASSERT_EQ(::write(fd.Get(), chunked.data(), chunked.size()), static_cast<ssize_t>(chunked.size()));
    char reply[64] = {};
    ASSERT_GT(::read(fd.Get(), reply, sizeof reply - 1), 0);
    EXPECT_EQ(std::string(reply).substr(0, 12), "HTTP/1.1 411") << reply;
    // A wrong method: 405 with the methods served there, the page too; an unknown path: 404.
    for (const auto& wrong : std::vector<std::vector<std::string>>{
             {"GET", "/api/apply", "POST", "GET is not served at /api/apply; POST is"},
             {"DELETE", "/api/profiles/front", "GET, PUT",
              "DELETE is not served at /api/profiles/front; GET, PUT are"},
             {"POST", "/", "GET", "POST is not served at /; GET is"}}) {
        answer = console.Fetch(wrong[0], wrong[1]);
        EXPECT_EQ(answer.status, 405) << wrong[1];
        EXPECT_EQ(answer.Header("allow"), wrong[2]) << wrong[1];
        EXPECT_EQ(answer.body, "{\n  \"error\": \"" + wrong[3] + "\"\n}\n");
    }
    EXPECT_EQ(console.Fetch("GET", "/api/nothing").body,
              "{\n  \"error\": \"no such API: /api/nothing\"\n}\n");
    EXPECT_EQ(console.Fetch("GET", "/api/jobs/77").status, 404);
    EXPECT_EQ(console.Stop(), "exit 0");
}

TEST(TolctlConsoleTest, ChecksWithTheCommandLinesMessagesAndNeverAnswersAPassword) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.20.1"});
    const std::string port = std::to_string(fleet.Port());
    Console console(dir / "state");
    ASSERT_GT(console.Port(), 0);

    // A bad profile: 400 with the message apply gives for it (its file named "profile").
    const std::string bad = R"({"wifi-ap": {"name": "Shop", "mode": "bogus"}, "lan": {"ip": "300.1.2.3"}})";
    std::ofstream(dir / "profile") << bad;
    const TolctlResult cli = Tolctl({"apply", "--dry-run", dir / "profile", "--target", "127.0.20.1"});
    HttpAnswer answer = console.Fetch("PUT", "/api/profiles/bad", bad);
    EXPECT_EQ(answer.status, 400);
    for (const char* key : {"wifi-ap.mode: 'bogus'", "lan.ip: "}) {
        const size_t at = cli.err.find(key);
        ASSERT_NE(at, std::string::npos) << cli.err;
        const std::string message = cli.err.substr(at, cli.err.find('\n', at) - at);
        EXPECT_NE(answer.body.find("bad: " + message), std::string::npos) << answer.body << cli.err;
    }
    EXPECT_EQ(console.Fetch("GET", "/api/profiles/bad").status, 404);  // nothing kept
    answer = console.Fetch("POST", "/api/check", R"({"profile": )" + bad + "}");
    EXPECT_NE(answer.body.find("profile: wifi-ap.mode: 'bogus' is not one of"), std::string::npos)
        << answer.body;
    // A page may not have the console read files: a password file is refused.
    answer =
        console.Fetch("POST", "/api/check", R"({"profile": {"wifi-station": {"ssid": "n", "password-file":
        "/etc/hostname", "ip": "10.0.0.5", "gateway": "10.0.0.1"}}})");
    EXPECT_NE(answer.body.find("password files are not read here"), std::string::npos) << answer.body;
    // Nor write them: a device's name would be a file of this computer. Network printers only.
    std::ofstream(dir / "file") << "keep";
    const std::string file = "\"serial:" + (dir / "file") + "\"";
    for (const std::pair<const char*, std::string>& request :
         {std::make_pair("/api/status", R"({"targets": [)" + file + "]}"),
          std::make_pair("/api/apply",
                         R"({"profile": {"after": ["cut"]}, "gap": 0, "targets": [)" + file + "]}"),
          std::make_pair("/api/check", R"({"profile": {"after": ["cut"]}, "targets": [)" + file + "]}"),
          std::make_pair("/api/send", R"({"command": "cut", "target": )" + file + "}")}) {
        answer = console.Fetch("POST", request.first, request.second);
        EXPECT_EQ(answer.status, 400) << request.first << answer.body;
        EXPECT_NE(answer.body.find("network printers only"), std::string::npos) << answer.body;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // an apply job would have begun
    std::ifstream untouched(dir / "file");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(untouched), {}), "keep");

    // A profile with a password: kept, but shown hidden wherever it appears (commented out too).
    const std::string profile =
        R"({"wifi-ap": {"name": "Front"}, "wifi-station": {"ssid": "shop", "password": ")" + kSecret +
        R"(", "ip": "10.0.0.5", "gateway": "10.0.0.1"}, "//wifi-station": {"//password": ")" + kSecret +
        R"("}})";
    std::vector<std::string> answers;
    answers.push_back(console.Fetch("PUT", "/api/profiles/shop", profile).body);
    answers.push_back(console.Fetch("GET", "/api/profiles/shop").body);
    EXPECT_NE(answers.back().find("\"password\": \"(hidden)\""), std::string::npos) << answers.back();
    // Given back as "(hidden)", the kept password stays.
    const std::string edited = R"j({"wifi-ap": {"name": "Back"}, "wifi-station": {"ssid": "shop",
        "password": "(hidden)", "ip": "10.0.0.5", "gateway": "10.0.0.1"}})j";
    EXPECT_EQ(console.Fetch("PUT", "/api/profiles/shop", edited).status, 200);
    std::ifstream kept(dir / "state/profiles/shop.json");
    const std::string keptText((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    EXPECT_NE(keptText.find(kSecret), std::string::npos);
    EXPECT_NE(keptText.find("Back"), std::string::npos);
    const std::string target = "socket://127.0.20.1:" + port;
    answers.push_back(
        console.Fetch("POST", "/api/check", R"({"profileName": "shop", "targets": [")" + target + "\"]}")
            .body);
    EXPECT_NE(answers.back().find("password=(hidden)"), std::string::npos) << answers.back();
    EXPECT_EQ(Count(answers.back(), "\"step\": \"wifi-station\""), 1) << answers.back();
    // The profile as answered, "(hidden)" in it, is refused wherever no kept password stands
    // behind it: given whole, or kept under a name that keeps none.
    const std::string fetched = console.Fetch("GET", "/api/profiles/shop").body;
    for (const std::string& path : {"/api/check", "/api/apply"}) {
        answer =
            console.Fetch("POST", path, R"({"profile": )" + fetched + R"(, "targets": [")" + target + "\"]}");
        EXPECT_NE(
            answer.body.find("profile: wifi-station.password: (hidden) is how a hidden password is shown"),
            std::string::npos)
            << path << answer.body;
    }
    EXPECT_EQ(console.Fetch("PUT", "/api/profiles/other", fetched).status, 400);
    answer = console.Fetch("POST", "/api/check", R"({"profile": )" + fetched + R"(, "profileName": "shop"})");
    EXPECT_NE(answer.body.find("\"problems\": []"), std::string::npos) << answer.body;
    // An empty password is no secret: answered as it was kept.
    answer = console.Fetch("PUT", "/api/profiles/open", R"({"wifi-station": {"ssid": "s", "auth": "open",
        "enc": "none", "password": "", "ip": "10.0.0.5", "gateway": "10.0.0.1"}})");
    EXPECT_NE(answer.body.find("\"password\": \"\""), std::string::npos) << answer.body;
    answer = console.Fetch("POST", "/api/apply",
                           R"({"profileName": "shop", "gap": 0, "targets": [")" + target + "\"]}");
    ASSERT_EQ(answer.status, 200) << answer.body;
    answers.push_back(console.WaitForJob("1"));
    EXPECT_EQ(Count(answers.back(), "\"result\": \"ok\""), 1) << answers.back();
    answers.push_back(console.Fetch("GET", "/api/jobs/1/events").body);
    answers.push_back(console
                          .Fetch("POST", "/api/send",
                                 R"({"target": "socket://127.0.20.1:)" + port +
                                     R"(", "command": "wifi-station", "args": {"ssid": "s",
        "password": ")" + kSecret + R"(", "ip": "10.0.0.6", "gateway": "10.0.0.1"}})")
                          .body);
    EXPECT_NE(answers.back().find("\"sent\": true"), std::string::npos) << answers.back();
    const std::string hidden = R"j(", "command": "wifi-station", "args": {"ssid": "s", "password": "(hidden)",
        "ip": "10.0.0.6", "gateway": "10.0.0.1"}})j";
    EXPECT_EQ(
        console.Fetch("POST", "/api/send", R"({"target": "socket://127.0.20.1:)" + port + hidden).status,
        400);
    for (const std::string& text : answers) {
        EXPECT_EQ(text.find(kSecret), std::string::npos) << text;
    }
    EXPECT_EQ(fleet.Stop(), "exit 0");
}

TEST(TolctlConsoleTest, ScansReadsAppliesAndSendsToEmulatedPrinters) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.20.11-13", "--state", dir / "printers.json", "--condition",
                           "127.0.20.12=paper-end"});
    const std::string port = std::to_string(fleet.Port());
    Console console(dir / "state");
    ASSERT_GT(console.Port(), 0);

    HttpAnswer answer =
        console.Fetch("POST", "/api/scan", R"({"network": "127.0.20.8/29", "port": )" + port + "}");
    ASSERT_EQ(answer.status, 200) << answer.body;
    for (const char* last : {"11", "12", "13"}) {
        const std::string target = "\"socket://127.0.20." + std::string(last) + ":" + port + "\"";
        EXPECT_EQ(Count(answer.body, target), 1) << answer.body;
        EXPECT_EQ(Count(console.Fetch("GET", "/api/printers").body, target), 1);
    }
    EXPECT_EQ(Count(answer.body, "socket://"), 3);
    EXPECT_EQ(console.Fetch("POST", "/api/scan", R"({"network": "127.0.0.0/8"})").status, 400);

    answer =
        console.Fetch("POST", "/api/status", R"({"targets": ["socket://127.0.20.11-12:)" + port + "\"]}");
    ASSERT_EQ(answer.status, 200) << answer.body;
    const TolctlResult cli =
        Tolctl({"status", "--format", "json", "--target", "socket://127.0.20.12:" + port});
    EXPECT_NE(answer.body.find("\"state\": \"ok\""), std::string::npos) << answer.body;
    EXPECT_NE(answer.body.find(cli.out.substr(4, cli.out.find("\"answers\"") - 4)), std::string::npos)
        << answer.body << cli.out;

    // An apply whose events are asked for while it runs, and again after it ended.
    const std::string apply =
        R"({"profile": {"wifi-ap": {"name": "Console AP"}, "bt-name": "Till"}, "gap": 200,
        "targets": ["socket://127.0.20.11-13:)" +
        port + "\"]}";
    answer = console.Fetch("POST", "/api/apply", apply);
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.body, "{\n  \"job\": \"1\"\n}\n");
    EXPECT_EQ(console.Fetch("POST", "/api/apply", apply).status, 409);  // its printers are busy
    const std::string live = console.Fetch("GET", "/api/jobs/1/events").body;
    const std::string late = console.Fetch("GET", "/api/jobs/1/events").body;
    for (const std::string& events : {live, late}) {
        EXPECT_EQ(Count(events, "event: printer\ndata: {\"target\":\"socket://127.0.20.1"), 3) << events;
        EXPECT_EQ(Count(events, "\"result\":\"ok\""), 3) << events;
        EXPECT_EQ(events.substr(events.rfind("event: ")),
                  "event: done\ndata: {\"ok\":3,\"failed\":0,\"interrupted\":0}\n\n");
    }
    const std::string report = console.WaitForJob("1");
    EXPECT_NE(report.find("\"progress\": {\n    \"done\": 3,\n    \"total\": 3\n  }"), std::string::npos)
        << report;
    EXPECT_NE(report.find("\"gap-ms\": 200"), std::string::npos) << report;
    // Streamed as it is written, and kept in the state folder as the job ended.
    EXPECT_EQ(console.Fetch("GET", "/api/jobs/1").Header("transfer-encoding"), "chunked");
    std::ifstream kept(dir / "state/jobs/1.json");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}), report);

    answer = console.Fetch("POST", "/api/send",
                           R"({"target": "socket://127.0.20.13:)" + port +
                               R"(", "command": "bt-pin", "args": {"value": "4321"}})");
    const std::string bytes = Tolctl({"--dry-run", "bt-pin", "4321"}).out;
    EXPECT_EQ(answer.body,
              "{\n  \"sent\": true,\n  \"bytes\": \"" + bytes.substr(0, bytes.size() - 1) + "\"\n}\n");
    EXPECT_NE(console
                  .Fetch("POST", "/api/send", R"({"target": "socket://127.0.20.13", "command": "lan-ip",
        "args": {"value": "0.0.0.0"}})")
                  .body.find("lan-ip: "),
              std::string::npos);
    EXPECT_EQ(
        console.Fetch("POST", "/api/send", R"({"target": "socket://127.0.20.13", "command": "nope"})").status,
        400);
    EXPECT_EQ(Count(console.Fetch("GET", "/api/commands").body, "\"command\": "),
              static_cast<int>(SingleCmds().size()));
    // The form: every key of a profile but the password file, which is none of the console's.
    const std::string form = console.Fetch("GET", "/api/settings").body;
    int formKeys = 0;
    for (const SettingRef& setting : AllSettings()) {
        formKeys += setting->kind != SettingKind::SecretFile ? 1 : 0;
    }
    EXPECT_EQ(Count(form, "\"key\": "), formKeys) << form;
    EXPECT_EQ(Count(form, "\"secret\": true"), 1) << form;
    EXPECT_EQ(fleet.Stop(), "exit 0");
    std::ifstream state(dir / "printers.json");
    const std::string held((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
    EXPECT_EQ(Count(held, "Console AP"), 3) << held;
    EXPECT_EQ(Count(held, "4321"), 1) << held;
}

TEST(TolctlConsoleTest, ATargetsSpreadsheetsLabelsAndValuesStayWithItsPrintersAndFillTheirTemplates) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.20.21-23", "--state", dir / "printers.json"});
    const std::string port = std::to_string(fleet.Port()), at = "socket://127.0.20.2";
    Console console(dir / "state");
    const std::string csv = "target,label.shop,//note,lan.ip,wifi-station.password\n" + at + "1-22:" + port +
                            ",North,x,10.0.0.1+,\n" + at + "3:" + port + ",South,,10.0.0.1," + kSecret + "\n";
    HttpAnswer answer = console.Fetch(
        "POST", "/api/printers", nlohmann::json({{"targetsText", csv}, {"targetsName", "chain.csv"}}).dump());
    ASSERT_EQ(answer.status, 200) << answer.body;
    const nlohmann::json kept = nlohmann::json::parse(console.Fetch("GET", "/api/printers").body);
    EXPECT_EQ(kept["labels"][at + "2:" + port], nlohmann::json({{"shop", "North"}})) << kept;
    EXPECT_EQ(
        kept["values"][at + "2:" + port],
        nlohmann::json::parse(R"({"origin": "chain.csv row 2", "n": 2, "overrides": ["lan.ip=10.0.0.2"]})"));
    EXPECT_EQ(kept["values"][at + "3:" + port]["overrides"][1], "wifi-station.password=(hidden)");
    // A value apply would refuse is refused as the file is read: no password file of this computer.
    answer = console.Fetch(
        "POST", "/api/printers",
        nlohmann::json({{"targetsText", at + "9 lan.ip=10.0.0 wifi-station.password-file=/etc/x\n"}}).dump());
    EXPECT_EQ(answer.status, 400);
    EXPECT_NE(answer.body.find("\"targets:1: wifi-station.password-file: password files are not read here"),
              std::string::npos)
        << answer.body;

    // A template a printer cannot fill is its row's problem; then each gets its own values.
    const std::string targets = "[\"" + at + "1:" + port + "\", \"" + at + "2:" + port + "\"]";
    answer = console.Fetch("POST", "/api/check",
                           R"({"profile": {"bt-name": "{label.till}"}, "targets": )" + targets + "}");
    EXPECT_NE(
        answer.body.find("chain.csv row 2 " + at + "1:" + port +
                         ": bt-name (profile): {label.till}: this printer has no label till (it has shop)"),
        std::string::npos)
        << answer.body;
    answer = console.Fetch(
        "POST", "/api/apply",
        R"({"profile": {"bt-name": "{label.shop}-Till-{n}"}, "gap": 0, "targets": )" + targets + "}");
    ASSERT_EQ(answer.status, 200) << answer.body;
    console.WaitForJob("1");
    EXPECT_EQ(fleet.Stop(), "exit 0");
    const nlohmann::json printers = nlohmann::json::parse(std::ifstream(dir / "printers.json"))["printers"];
    EXPECT_EQ(printers["127.0.20.22:" + port]["bt-name"], "North-Till-2") << printers;
    EXPECT_EQ(printers["127.0.20.22:" + port]["lan"]["ip"], "10.0.0.2") << printers;
}

TEST(TolctlConsoleTest, SlowClientsAndEventStreamsHoldNoWorker) {
    TempDir dir;
    FakePrinter printer;
    Console console(dir / "state");
    // A job that runs for 3 s (its second command 3 s after the first), followed by 16 streams.
    ASSERT_EQ(console
                  .Fetch("POST", "/api/apply",
                         R"({"profile": {"bt-name": "Till", "bt-pin": "1234"}, "gap": 3000, "targets": [")" +
                             printer.Uri() + "\"]}")
                  .status,
              200);
    std::vector<std::unique_ptr<PipeText>> streams;
    for (int i = 0; i < 16; ++i) {
        UniqueFd fd = ConnectTo(console.Port());
        EXPECT_TRUE(SendAll(fd, "GET /api/jobs/1/events HTTP/1.1\r\nHost: " + console.Host() +
                                    "\r\nAuthorization: Bearer " + console.Token() + "\r\n\r\n"));
        streams.push_back(std::make_unique<PipeText>(std::move(fd)));
    }
    SlowClients slow(console.Port(), 64, "GET / HTTP/1.1\r\nHost: " + console.Host() + "\r\n");
    const auto start = Clock::now();
    EXPECT_EQ(slow.Drip(), 64u);
    // Answered at once, long before the slow clients' deadline.
    const HttpAnswer probe = HttpFetch("127.0.0.1", console.Port(), "GET", "/api/printers",
                                       {{"Authorization", "Bearer " + console.Token()}}, "", 3);
    EXPECT_EQ(probe.status, 200) << probe.error;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    // A line every second does not keep a request's head open past its 5 s.
    size_t open = 64;
    while (open > 0 && Clock::now() - start < std::chrono::seconds(9)) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        open = slow.Drip();
    }
    EXPECT_EQ(open, 0u);
    for (const auto& stream : streams) {
        EXPECT_EQ(stream->WaitFor("event: done\ndata: (\\{.*\\})\n"),
                  R"({"ok":1,"failed":0,"interrupted":0})");
    }
}

TEST(TolctlConsoleTest, SigtermEndsAStatusReadAndKeepsAnInterruptedJobsReport) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.21.0/24", "--fault", "127.0.21.1-255=stall"}, 4096);
    const std::string port = std::to_string(fleet.Port());
    Console console(dir / "state");
    // A job with 60 s between its commands, and a read of 255 printers whose connects hang (5 s
    // for each 64 of them).
    const std::string apply =
        R"({"profile": {"bt-name": "Till", "bt-pin": "1234"}, "gap": 60000, "targets": [")";
    ASSERT_EQ(console.Fetch("POST", "/api/apply", apply + "socket://127.0.21.0:" + port + "\"]}").status,
              200);
    const std::string body = R"({"targets": ["socket://127.0.21.1-255:)" + port + "\"]}";
    const UniqueFd status = ConnectTo(console.Port());
    EXPECT_TRUE(SendAll(status, "POST /api/status HTTP/1.1\r\nHost: " + console.Host() +
                                    "\r\nAuthorization: Bearer " + console.Token() + "\r\nContent-Length: " +
                                    std::to_string(body.size()) + "\r\n\r\n" + body));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto start = Clock::now();
    EXPECT_EQ(console.Stop(), "exit 0");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
    std::ifstream kept(dir / "state/jobs/1.json");
    const std::string report((std::istreambuf_iterator<char>(kept)), {});
    EXPECT_NE(report.find("\"result\": \"interrupted\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"done\": true"), std::string::npos) << report;
}

TEST(TolctlConsoleTest, RecordsItsJobsSendsAndStatusAndAnswersThemAfterARestart) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.20.41"});
    const std::string port = std::to_string(fleet.Port());
    const std::string a = "socket://127.0.20.41:" + port;
    {
        Console console(dir / "state");
        const std::string apply = R"({"profile": {"wifi-station": {"ssid": "shop", "password": ")" + kSecret +
                                  R"(", "ip": "10.0.0.5", "gateway": "10.0.0.1"}}, "gap": 0,
            "targets": [")" + a + "\"]}";
        ASSERT_EQ(console.Fetch("POST", "/api/apply", apply).body, "{\n  \"job\": \"1\"\n}\n");
        console.WaitForJob("1");
        EXPECT_EQ(console
                      .Fetch("POST", "/api/send",
                             R"({"target": ")" + a + R"(", "command": "bt-name", "args": {"value": "Till"}})")
                      .status,
                  200);
        EXPECT_EQ(console.Fetch("POST", "/api/status", R"({"targets": [")" + a + "\"]}").status, 200);
        EXPECT_EQ(console.Stop(), "exit 0");
    }
    // Started again: the jobs come from the record (the send is none), the past one whole.
    Console console(dir / "state");
    const std::string jobs = console.Fetch("GET", "/api/jobs").body;
    EXPECT_EQ(Count(jobs, "\"job\":"), 1) << jobs;
    EXPECT_EQ(Count(jobs, "{\"job\":\"1\",\"rollout\":\""), 1) << jobs;
    const std::string job = console.Fetch("GET", "/api/jobs/1").body;
    EXPECT_NE(job.find("\"done\": true"), std::string::npos) << job;
    EXPECT_EQ(Count(job, "{\"target\":\"" + a + "\",\"result\":\"ok\",\"sent\":"), 1) << job;
    // A printer's panel: its settings (the password by its fingerprint), history and status.
    const std::string panel =
        console.Fetch("GET", "/api/record/printers/socket%3A%2F%2F127.0.20.41%3A" + port).body;
    EXPECT_EQ(Count(panel, "{\"setting\":\"wifi-station.password\",\"value\":\"hmac:"), 1) << panel;
    EXPECT_EQ(Count(panel, "{\"setting\":\"bt-name\",\"value\":\"Till\""), 1) << panel;
    EXPECT_EQ(Count(panel, "\"result\":\"sent\""), Count(panel, "\"result\":"));
    EXPECT_GE(Count(panel, "\"result\":\"sent\""), 3) << panel;
    EXPECT_NE(panel.find("\"status\": {\"state\":\"ok\""), std::string::npos) << panel;
    EXPECT_EQ(Count(panel, "{\"time\":\"20"), Count(panel, "\"result\":") + 1) << panel;  // one status row
    for (const std::string& answer : {jobs, job, panel}) {
        EXPECT_EQ(answer.find(kSecret), std::string::npos) << answer;
    }
    // The job ids go on from the record's.
    EXPECT_EQ(console
                  .Fetch("POST", "/api/apply",
                         R"({"profile": {"bt-pin": "1234"}, "gap": 0, "targets": [")" + a + "\"]}")
                  .body,
              "{\n  \"job\": \"2\"\n}\n");
    console.WaitForJob("2");
}

// An apply to a port where nothing listens: it fails at once.
const char kApplyToNone[] = R"({"profile": {"bt-pin": "1234"}, "targets": ["socket://127.0.20.39:9"]})";

TEST(TolctlConsoleTest, KeepsItsPrintersAndProfilesAcrossRuns) {
    TempDir dir;
    {
        Console console(dir / "state");
        ASSERT_GT(console.Port(), 0);
        HttpAnswer answer = console.Fetch(
            "POST", "/api/printers",
            R"({"add": ["socket://127.0.20.30"], "targetsText": "# till\nsocket://127.0.20.31-32:9101 lan.ip=10.0.0.9\n"})");
        EXPECT_EQ(answer.status, 200) << answer.body;
        // Bad targets: the messages of a targets file, and the list stays as it was.
        answer = console.Fetch("POST", "/api/printers",
                               R"({"add": ["socket://127.0.20.40"], "targetsText": "1.2.3\n"})");
        EXPECT_EQ(answer.status, 400);
        EXPECT_NE(answer.body.find("targets:1: "), std::string::npos) << answer.body;
        // A spreadsheet sent with its name is read as apply reads it, with its messages.
        answer = console.Fetch("POST", "/api/printers",
                               R"({"targetsText": "target,lan.ip\r\nsocket://127.0.20.33,10.0.0.9\r\n",
                                   "targetsName": "tills.csv"})");
        EXPECT_NE(answer.body.find("\"socket://127.0.20.33\""), std::string::npos) << answer.body;
        answer = console.Fetch("POST", "/api/printers",
                               R"({"targetsText": "target,bt-nam\n", "targetsName": "tills.csv"})");
        EXPECT_NE(answer.body.find("tills.csv row 1, column 2: 'bt-nam': not a profile key"),
                  std::string::npos)
            << answer.body;
        EXPECT_EQ(console.Fetch("POST", "/api/printers", R"({"remove": ["socket://127.0.20.33"]})").status,
                  200);
        EXPECT_EQ(console.Fetch("PUT", "/api/profiles/front-1", R"({"bt-pin": "1234"})").status, 200);
        // Changes that come at once are all kept: none is written over by another.
        std::vector<std::thread> adds;
        std::vector<int> statuses(64);
        for (int i = 0; i < 64; ++i) {
            adds.emplace_back([&console, &statuses, i] {
                statuses[i] = console
                                  .Fetch("POST", "/api/printers",
                                         R"({"add": ["socket://127.0.21.)" + std::to_string(i) + "\"]}")
                                  .status;
            });
        }
        for (std::thread& add : adds) {
            add.join();
        }
        EXPECT_EQ(statuses, std::vector<int>(64, 200));
        EXPECT_EQ(Count(console.Fetch("GET", "/api/printers").body, "socket://127.0.21."), 64);
        EXPECT_EQ(console.Fetch("POST", "/api/printers", R"({"remove": ["socket://127.0.21.0-63"]})").status,
                  200);
        // Names Windows keeps for its devices are refused everywhere: a state folder may move.
        for (const std::string name : {".hidden", "CON", "nul.shop", "Com1", "lpt9.x", "aux"}) {
            EXPECT_EQ(console.Fetch("PUT", "/api/profiles/" + name, R"({"bt-pin": "1234"})").status, 404)
                << name;
        }
        EXPECT_EQ(console.Fetch("POST", "/api/apply", kApplyToNone).body, "{\n  \"job\": \"1\"\n}\n");
        EXPECT_EQ(console.Stop(), "exit 0");
    }
    Console console(dir / "state");
    // The job ids go on from the reports kept: none is replaced.
    EXPECT_EQ(console.Fetch("POST", "/api/apply", kApplyToNone).body, "{\n  \"job\": \"2\"\n}\n");
    // Each printer of the file's line keeps its values and its number in the line.
    const nlohmann::json printers = nlohmann::json::parse(console.Fetch("GET", "/api/printers").body);
    EXPECT_EQ(printers["printers"],
              nlohmann::json::parse(R"(["socket://127.0.20.30", "socket://127.0.20.31:9101",
                                                               "socket://127.0.20.32:9101"])"));
    EXPECT_EQ(printers["values"]["socket://127.0.20.32:9101"],
              nlohmann::json::parse(R"({"origin": "targets:2", "n": 2, "overrides": ["lan.ip=10.0.0.9"]})"));
    EXPECT_EQ(console.Fetch("GET", "/api/profiles").body, "{\n  \"profiles\": [\n    \"front-1\"\n  ]\n}\n");
    EXPECT_EQ(console.Fetch("GET", "/api/profiles/front-1").body, "{\n  \"bt-pin\": \"1234\"\n}\n");
    struct stat info {};
    ASSERT_EQ(::stat((dir / "state/profiles/front-1.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir / "state/printers.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir / "state/jobs/1.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(TolctlConsoleTest, DeepAndHandMadeStateOrBodiesAreRefusedAndLeftoversRemoved) {
    TempDir dir;
    const std::string state = dir / "state";
    ASSERT_EQ(::mkdir(state.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((state + "/profiles").c_str(), 0700), 0);
    std::ofstream(state + "/printers.json")
        << R"({"printers": ["socket://127.0.20.50", "serial:/dev/ttyS0", 7, "socket://127.0.20.50", "x y",
        "socket://127.0.20.51:9101"]})";
    // Nested objects are walked to hide passwords; as deep as this they used to end the console.
    std::string deep;
    for (int i = 0; i < 150000; ++i) {
        deep += "{\"a\":";
    }
    deep += "1" + std::string(150000, '}');
    std::ofstream(state + "/profiles/deep.json") << deep;
    std::ofstream(state + "/profiles/junk.json") << "bt-pin = 1234";
    // Saves cut short by a kill: removed at start unless their process still runs.
    const std::string ended = state + "/printers.json.tmp-999999999";
    const std::string endedProfile = state + "/profiles/shop.json.tmp-999999999-k3Jq9x";
    const std::string live = state + "/printers.json.tmp-" + std::to_string(::getpid());
    for (const std::string& leftover : {ended, endedProfile, live}) {
        std::ofstream(leftover) << R"({"wifi-station": {"password": "left-behind"}})";
    }

    Console console(state);
    ASSERT_GT(console.Port(), 0);
    EXPECT_EQ(
        console.Fetch("GET", "/api/printers").body,
        "{\n  \"printers\": [\n    \"socket://127.0.20.50\",\n    \"socket://127.0.20.51:9101\"\n  ]\n}\n");
    EXPECT_FALSE(std::ifstream(ended).good());
    EXPECT_FALSE(std::ifstream(endedProfile).good());
    EXPECT_TRUE(std::ifstream(live).good());

    // Kept files that are no profile: 422 with why; a PUT replaces them.
    HttpAnswer answer = console.Fetch("GET", "/api/profiles/junk");
    EXPECT_EQ(answer.status, 422);
    EXPECT_NE(answer.body.find("the kept profile junk cannot be read (profiles/junk.json: not JSON: line 1"),
              std::string::npos)
        << answer.body;
    answer = console.Fetch("GET", "/api/profiles/deep");
    EXPECT_EQ(answer.status, 422);
    EXPECT_NE(answer.body.find("nested more than 64 deep"), std::string::npos) << answer.body;
    EXPECT_EQ(console.Fetch("PUT", "/api/profiles/junk", R"({"bt-pin": "1234"})").status, 200);
    EXPECT_EQ(console.Fetch("GET", "/api/profiles/junk").status, 200);
    // Bodies nested too deep: refused before anything is built of them.
    const std::string lists = std::string(150000, '[') + std::string(150000, ']');
    answer = console.Fetch("POST", "/api/check", R"({"profile": {"//": )" + lists + "}}");
    EXPECT_EQ(answer.status, 400);
    EXPECT_NE(answer.body.find("the body: objects and lists are nested more than 64 deep"), std::string::npos)
        << answer.body;
    EXPECT_EQ(console.Fetch("PUT", "/api/profiles/deep", "{\"//\": " + deep + "}").status, 400);
    EXPECT_EQ(console.Stop(), "exit 0");
    const std::string errors = console.Errors().ReadToEnd();
    for (const char* left :
         {"printers[1] 'serial:/dev/ttyS0': not one network printer", "printers[2]: not text",
          "printers[3] 'socket://127.0.20.50': given twice", "printers[4] 'x y': "}) {
        EXPECT_NE(errors.find(left), std::string::npos) << left << " not in: " << errors;
    }
}

}  // namespace
