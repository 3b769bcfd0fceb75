// tolctl record: the queries in their three formats, export and import, and the exit codes, on
// records written through the library (apply does not write one yet).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "record/Record.h"
#include "tests/support/TempDir.h"
#include "tests/support/TolctlRun.h"
#include "tolctl/Options.h"

namespace {

// Two roll-outs to two printers: a password changed on one printer, failed on the other.
std::string WriteShopRecord(const std::string& path) {
    RecordProblem problem;
    std::unique_ptr<Record> record = Record::Open(path, RecordMode::Write, problem);
    EXPECT_NE(record, nullptr) << problem.text;
    RolloutStart start;
    start.profile = "shop.json";
    const RecordRollout first = record->BeginRollout(start);
    for (const char* printer : {"socket://127.0.1.1:9100", "socket://127.0.1.2:9100"}) {
        record->CommandEnded(
            record->CommandStarted(first, printer, "wifi-station.password", {"Old-Secret-1", true}),
            SendResult::Sent);
        record->CommandEnded(record->CommandStarted(first, printer, "cut", {""}), SendResult::Sent);
    }
    record->EndRollout(first, R"({"printers": 2, "ok": 2})");
    const RecordRollout second = record->BeginRollout(start);
    record->CommandEnded(record->CommandStarted(second, "socket://127.0.1.1:9100", "wifi-station.password",
                                                {"New-Secret-2", true}),
                         SendResult::Sent);
    record->CommandEnded(record->CommandStarted(second, "socket://127.0.1.2:9100", "wifi-station.password",
                                                {"New-Secret-2", true}),
                         SendResult::Failed, "connection refused");
    record->EndRollout(second, R"({"printers": 2, "ok": 1, "failed": 1})");
    record->StatusRead("socket://127.0.1.2:9100", "offline", "cover-open");
    EXPECT_TRUE(record->Flush());
    return record->Fingerprint("New-Secret-2") + " " + second.uuid;
}

TEST(RecordCommandTest, QueriesShowTheRecordAsATableJsonAndCsv) {
    const TempDir folder;
    const std::string path = (folder / "record.sqlite");
    const std::string written = WriteShopRecord(path);
    const std::string newPrint = written.substr(0, 8), second = written.substr(9);

    const TolctlResult table = Tolctl({"record", "printers", "--record", path});
    ASSERT_EQ(table.code, 0) << table.err;
    EXPECT_EQ(
        table.out.substr(0, table.out.find('\n')),
        "TARGET                   SETTING                VALUE          SENT                      ROLLOUT   "
        "FAILED                    STATE    CONDITIONS  STATUS-TIME");
    EXPECT_NE(table.out.find("socket://127.0.1.1:9100  wifi-station.password  hmac:" + newPrint + "  "),
              std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find(second.substr(0, 8) + "  -  "), std::string::npos) << table.out;

    const TolctlResult json =
        Tolctl({"record", "printers", "--format", "json", "--record", path, "--target", "127.0.1.2"});
    ASSERT_EQ(json.code, 0) << json.err;
    const nlohmann::json rows = nlohmann::json::parse(json.out);
    ASSERT_EQ(rows.size(), 2u) << json.out;
    EXPECT_EQ(rows[1]["setting"], "wifi-station.password");
    EXPECT_NE(rows[1]["value"], "hmac:" + newPrint);  // the new one failed there: the old one is its last
    EXPECT_TRUE(rows[1]["failed"].is_string());
    EXPECT_EQ(rows[1]["state"], "offline");
    EXPECT_EQ(rows[1]["conditions"], "cover-open");

    const TolctlResult csv =
        Tolctl({"record", "history", "socket://127.0.1.1", "--format", "csv", "--record", path});
    ASSERT_EQ(csv.code, 0) << csv.err;
    EXPECT_EQ(csv.out.substr(0, csv.out.find('\n') + 1), "time,rollout,seq,setting,value,result,error\r\n");
    EXPECT_NE(csv.out.find("," + second + ",1,wifi-station.password,hmac:" + newPrint + ",sent,\r\n"),
              std::string::npos)
        << csv.out;

    const TolctlResult rollouts = Tolctl({"record", "rollouts", "--format", "json", "--record", path});
    ASSERT_EQ(rollouts.code, 0) << rollouts.err;
    const nlohmann::json list = nlohmann::json::parse(rollouts.out);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1]["counts"]["failed"], 1);
    EXPECT_EQ(list[1]["profile"], "shop.json");

    const TolctlResult rollout = Tolctl({"record", "rollout", second.substr(0, 5), "--record", path});
    ASSERT_EQ(rollout.code, 0) << rollout.err;
    EXPECT_NE(rollout.out.find("socket://127.0.1.2:9100  failed  0     1"), std::string::npos) << rollout.out;
    EXPECT_NE(rollout.out.find("connection refused"), std::string::npos) << rollout.out;
    EXPECT_EQ(Tolctl({"record", "rollout", "0000", "--record", path}).code, 2);

    for (const TolctlResult& result : {table, json, csv, rollouts, rollout}) {
        EXPECT_EQ(result.out.find("Secret-"), std::string::npos);
    }
}

TEST(RecordCommandTest, ExportImportAndExitCodes) {
    const TempDir folder;
    const std::string shop = (folder / "shop.sqlite"), chain = (folder / "chain.sqlite");
    WriteShopRecord(shop);
    const TolctlResult exported = Tolctl({"record", "export", "--record", shop});
    ASSERT_EQ(exported.code, 0) << exported.err;
    const std::string lines = folder.Write("shop.jsonl", exported.out);

    const TolctlResult trial = Tolctl({"--dry-run", "record", "import", lines, "--record", chain});
    EXPECT_EQ(trial.code, 0) << trial.err;
    EXPECT_EQ(trial.out, "would import 2 roll-outs, 6 commands and 1 status rows from " + lines +
                             " (0 lines the record had already)\n");
    EXPECT_FALSE(std::filesystem::exists(chain));
    EXPECT_EQ(Tolctl({"record", "import", lines, "--record", chain}).out.substr(0, 31),
              "imported 2 roll-outs, 6 command");
    const TolctlResult again = Tolctl({"record", "import", "-", "--record", chain}, exported.out);
    EXPECT_EQ(again.out,
              "imported 0 roll-outs, 0 commands and 0 status rows from standard input (10 lines the "
              "record had already)\n")
        << again.err;
    const std::string chainLines = Tolctl({"record", "export", "--record", chain}).out;
    EXPECT_EQ(std::count(chainLines.begin(), chainLines.end(), '\n'),
              std::count(exported.out.begin(), exported.out.end(), '\n') + 1)
        << "the shop's lines and the chain's own key";

    // Refused: not an export, a record of a newer tolctl, no record to use.
    const std::string notExport = folder.Write("x.jsonl", "{\"type\": \"send\"}\n");
    const TolctlResult refused = Tolctl({"record", "import", notExport, "--record", chain});
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("x.jsonl:1: not a record export of tolctl"), std::string::npos) << refused.err;
    {
        RecordProblem problem;
        std::unique_ptr<Record> newer = Record::Open((folder / "newer.sqlite"), RecordMode::Write, problem);
        ASSERT_TRUE(newer->Db().Exec("UPDATE schema_version SET version = 99"));
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"record", "printers", "--record", (folder / "newer.sqlite")},
          {"record", "history", "COM1", "--format", "json", "--record", (folder / "newer.sqlite")},
          {"record", "import", lines, "--record", (folder / "newer.sqlite")},
          {"record", "rollouts", "--no-record"},
          {"record", "rollouts", "--record="},
          {"record", "rollouts", "--record", chain, "--no-record"},
          {"record", "rollouts", "--record", folder.Path()},
          {"record", "printers", "--target", "socket://127.0.1.300", "--record", chain}}) {
        const TolctlResult result = Tolctl(args);
        EXPECT_EQ(result.code, 2) << args[1] << " " << args.back() << ": " << result.err;
        EXPECT_EQ(result.out, "") << "a refusal shows no (empty) table";
    }
    const TolctlResult missing =
        Tolctl({"record", "printers", "--format", "json", "--record", (folder / "none.sqlite")});
    EXPECT_EQ(missing.code, 0);
    EXPECT_EQ(missing.out, "[]\n");
    EXPECT_NE(missing.err.find("nothing was recorded there yet"), std::string::npos) << missing.err;
    EXPECT_FALSE(std::filesystem::exists((folder / "none.sqlite")));

    // The record's place: --record, else TOLCTL_RECORD, else the state folder.
    GlobalOptions global;
    std::string path, problem;
#ifdef _WIN32
    _putenv_s("TOLCTL_RECORD", chain.c_str());
#else
    setenv("TOLCTL_RECORD", chain.c_str(), 1);
#endif
    ASSERT_TRUE(RecordPath(global, path, problem));
    EXPECT_EQ(path, chain);
    EXPECT_EQ(Tolctl({"record", "rollouts", "--format", "csv"}).out,
              Tolctl({"record", "rollouts", "--format", "csv", "--record", chain}).out);
#ifdef _WIN32
    _putenv_s("TOLCTL_RECORD", "");
#else
    unsetenv("TOLCTL_RECORD");
#endif
    ASSERT_TRUE(RecordPath(global, path, problem));
    EXPECT_NE(path.find("record.sqlite"), std::string::npos);
    KeepTestRecordApart();  // the next tests' tolctl writes no record of the user's
    global.noRecord = true;
    ASSERT_TRUE(RecordPath(global, path, problem));
    EXPECT_EQ(path, "");
}

}  // namespace
