// The fleet record as its writers and readers use it: results, each printer's last values,
// fingerprints instead of secrets, status changes, refusals, concurrent writers, export and import.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>

#include "record/Record.h"
#include "record/RecordQueries.h"
#include "record/RecordStore.h"
#include "record/RecordTransfer.h"
#include "tests/support/TempDir.h"

namespace {

std::unique_ptr<Record> OpenRecord(const std::string& path, RecordMode mode = RecordMode::Write) {
    RecordProblem problem;
    std::unique_ptr<Record> record = Record::Open(path, mode, problem);
    EXPECT_NE(record, nullptr) << problem.text;
    return record;
}

std::vector<PrinterSettingRow> Printers(Record& record, const std::vector<std::string>& names = {}) {
    std::vector<PrinterSettingRow> rows;
    std::string problem;
    EXPECT_TRUE(QueryPrinters(
        record, names, [&](const PrinterSettingRow& row) { rows.push_back(row); }, problem))
        << problem;
    return rows;
}

int64_t Count(Record& record, const std::string& sql) {
    SqliteStatement query;
    EXPECT_TRUE(query.Prepare(record.Db(), sql) && query.Step() && query.Row()) << record.Db().Problem();
    return query.Int(0);
}

const std::string kPrinterA = "socket://127.0.1.1:9100", kPrinterB = "socket://127.0.1.2:9100";

TEST(RecordTest, KeepsEachResultAndEachPrintersLastValuesWithSecretsOnlyAsFingerprints) {
    const TempDir folder;
    const std::string path = (folder / "state/tolctl/record.sqlite");
    std::unique_ptr<Record> record = OpenRecord(path);
    RolloutStart start;
    start.profile = "shop.json";
    start.options = R"({"jobs": 4})";
    const RecordRollout first = record->BeginRollout(start);
    ASSERT_NE(first.id, 0) << record->Problem();
    record->CommandEnded(record->CommandStarted(first, kPrinterA, "lan.ip", {"192.168.1.51"}),
                         SendResult::Sent);
    record->CommandEnded(
        record->CommandStarted(first, kPrinterA, "wifi-station.password", {"Old-Secret-1", true}),
        SendResult::Sent);
    record->CommandEnded(record->CommandStarted(first, kPrinterB, "lan.ip", {"192.168.1.52"}),
                         SendResult::Failed, "connection refused");
    record->CommandNotSent(first, kPrinterB, "wifi-station.password", {"Old-Secret-1", true},
                           SendResult::NotSent);
    record->EndRollout(first, R"({"printers": 2, "ok": 1, "failed": 1})");
    const RecordRollout second = record->BeginRollout(start);
    record->CommandEnded(
        record->CommandStarted(second, kPrinterA, "wifi-station.password", {"New-Secret-2", true}),
        SendResult::Failed, "timed out");
    const RecordSend inFlight = record->CommandStarted(second, kPrinterB, "cut", {""});
    ASSERT_NE(inFlight.seq, 0);
    ASSERT_TRUE(record->Flush()) << record->Problem();

    const std::string oldPrint = record->Fingerprint("Old-Secret-1");
    EXPECT_EQ(oldPrint.size(), 8u);
    EXPECT_NE(oldPrint, record->Fingerprint("New-Secret-2"));
    EXPECT_EQ(record->FingerprintFor(first.uuid, "Old-Secret-1"), oldPrint);
    // The printers' last values: a failed send leaves the last value sent, noted as failed since.
    const std::vector<PrinterSettingRow> rows = Printers(*record);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].printer + " " + rows[0].setting + " " + rows[0].value + " " + rows[0].rollout,
              kPrinterA + " lan.ip 192.168.1.51 " + first.uuid);
    EXPECT_EQ(rows[1].setting + " " + rows[1].value, "wifi-station.password " + oldPrint);
    EXPECT_TRUE(rows[1].secret);
    EXPECT_NE(rows[1].failedMs, 0);
    EXPECT_EQ(rows[2].printer + " " + rows[2].setting, kPrinterB + " lan.ip");
    EXPECT_EQ(rows[2].sentMs, 0);
    EXPECT_NE(rows[2].failedMs, 0);
    EXPECT_EQ(Printers(*record, {kPrinterB, "socket://127.0.1.9:9100"}).size(), 1u);

    std::vector<std::string> history;
    std::string problem;
    ASSERT_TRUE(QueryHistory(
        *record, kPrinterA,
        [&](const HistoryRow& row) {
            history.push_back(row.setting + "=" + row.value + " " + SendResultName(row.result));
        },
        problem));
    EXPECT_EQ(history, (std::vector<std::string>{
                           "wifi-station.password=" + record->Fingerprint("New-Secret-2") + " failed",
                           "wifi-station.password=" + oldPrint + " sent", "lan.ip=192.168.1.51 sent"}));
    std::vector<std::string> printers;
    ASSERT_TRUE(QueryRolloutPrinters(
        *record, second.uuid,
        [&](const RolloutPrinterRow& row) {
            printers.push_back(row.printer + " " + row.result + " " + row.error);
        },
        problem));
    EXPECT_EQ(printers,
              (std::vector<std::string>{kPrinterA + " failed timed out", kPrinterB + " in-flight "}));
    std::vector<RolloutRow> rollouts;
    ASSERT_TRUE(QueryRollouts(
        *record, [&](const RolloutRow& row) { rollouts.push_back(row); }, problem));
    ASSERT_EQ(rollouts.size(), 2u);
    EXPECT_EQ(rollouts[0].counts, R"({"printers": 2, "ok": 1, "failed": 1})");
    EXPECT_NE(rollouts[0].endMs, 0);
    EXPECT_EQ(rollouts[1].endMs, 0);
    EXPECT_EQ(rollouts[0].options, R"({"jobs": 4})");
    RolloutRow found;
    bool refused = false;
    ASSERT_TRUE(FindRollout(*record, second.uuid.substr(0, 6), found, refused, problem)) << problem;
    EXPECT_EQ(found.uuid, second.uuid);

    // No secret in any file of the record, before or after it is closed.
    for (int pass = 0; pass < 2; ++pass) {
        for (const char* suffix : {"", "-wal"}) {
            const std::string bytes = folder.Read(std::string("state/tolctl/record.sqlite") + suffix);
            EXPECT_EQ(bytes.find("Secret-"), std::string::npos) << pass << suffix;
        }
        record.reset();
    }
#ifndef _WIN32
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(path).permissions() & perms::all,
              perms::owner_read | perms::owner_write);
    EXPECT_EQ(std::filesystem::status((folder / "state")).permissions() & perms::all, perms::owner_all);
#endif
}

TEST(RecordTest, KeepsAStatusRowOnlyWhenItChanges) {
    const TempDir folder;
    std::unique_ptr<Record> record = OpenRecord((folder / "record.sqlite"));
    for (const char* state : {"ok", "ok", "ok", "warning", "warning", "ok"}) {
        record->StatusRead(kPrinterA, state, std::string(state) == "warning" ? "paper-near-end" : "");
        ASSERT_TRUE(record->Flush());
    }
    std::vector<std::string> changes;
    std::string problem;
    ASSERT_TRUE(QueryStatusHistory(
        *record, kPrinterA,
        [&](const StatusRow& row) { changes.push_back(row.state + ":" + row.conditions); }, problem));
    EXPECT_EQ(changes, (std::vector<std::string>{"ok:", "warning:paper-near-end", "ok:"}));
    const std::vector<PrinterSettingRow> rows = Printers(*record);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].setting + "|" + rows[0].state, "|ok");
}

TEST(RecordTest, RefusesANewerRecordAndOtherFilesWithoutChangingThem) {
    const TempDir folder;
    {
        std::unique_ptr<Record> newer = OpenRecord((folder / "newer.sqlite"));
        ASSERT_TRUE(
            newer->Db().Exec("UPDATE schema_version SET version = " + std::to_string(kRecordVersion + 1)));
        std::unique_ptr<Record> foreign = OpenRecord((folder / "foreign.sqlite"));
        ASSERT_TRUE(foreign->Db().Exec("DROP TABLE schema_version"));
    }
    folder.Write("text.sqlite", "{\"not\": \"a database\"}\n" + std::string(600, 'x'));
    for (const char* name : {"newer.sqlite", "foreign.sqlite", "text.sqlite"}) {
        const std::string before = folder.Read(name);
        for (const RecordMode mode : {RecordMode::Write, RecordMode::Read, RecordMode::ReadOnly}) {
            RecordProblem problem;
            EXPECT_EQ(Record::Open((folder / name), mode, problem), nullptr) << name;
            EXPECT_EQ(problem.kind, RecordProblem::Kind::Refused) << name << ": " << problem.text;
        }
        EXPECT_EQ(folder.Read(name), before) << name;
    }
    RecordProblem problem;
    EXPECT_EQ(Record::Open((folder / "newer.sqlite"), RecordMode::Read, problem), nullptr);
    EXPECT_NE(problem.text.find("written by a newer tolctl"), std::string::npos) << problem.text;
    EXPECT_EQ(Record::Open((folder / "none.sqlite"), RecordMode::ReadOnly, problem), nullptr);
    EXPECT_EQ(problem.kind, RecordProblem::Kind::Missing);
    EXPECT_FALSE(std::filesystem::exists((folder / "none.sqlite")));
}

TEST(RecordTest, BringsAVersion1RecordUpKeepingEveryRow) {
    const TempDir folder;
    const std::string path = (folder / "old.sqlite");
    {
        SqliteDb db;
        ASSERT_TRUE(db.Open(path, SqliteDb::kReadWriteCreate, 1000));
        ASSERT_TRUE(db.Exec("BEGIN") && MigrateRecord(db, 1)) << db.Problem();
        ASSERT_TRUE(
            db.Exec("INSERT INTO printers(id, name) VALUES(1, 'A'), (2, 'B');"
                    "INSERT INTO settings(id, name) VALUES(1, 'lan.ip'), (2, 'cut');"
                    "INSERT INTO rollouts VALUES(1, 'u1', 'apply', 1, NULL, 'op@till', '1', 'a', 'd', '{}', "
                    "NULL, 1); INSERT INTO sends VALUES(1, 1, 2, 1, '10.1.1.2', 0, 1, NULL, 1000),"
                    "(1, 2, 2, 2, '', 0, 0, NULL, 1001), (1, 3, 1, 1, '10.1.1.1', 0, 2, 'refused', 1002);"
                    "INSERT INTO latest VALUES(2, 1, 1, 1000, '10.1.1.2', 0, NULL),"
                    "(1, 1, NULL, NULL, NULL, NULL, 1002); COMMIT"))
            << db.Problem();
    }
    std::unique_ptr<Record> record = OpenRecord(path);
    ASSERT_NE(record, nullptr);
    const std::vector<PrinterSettingRow> printers = Printers(*record);
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[0].printer + " " + printers[0].setting + " " + std::to_string(printers[0].failedMs),
              "A lan.ip 1002");
    EXPECT_EQ(printers[1].printer + " " + printers[1].value + " " + printers[1].rollout, "B 10.1.1.2 u1");
    std::string history, problem;
    ASSERT_TRUE(QueryHistory(
        *record, "B",
        [&](const HistoryRow& row) {
            history += std::to_string(row.seq) + " " + row.setting + " " + SendResultName(row.result) + "; ";
        },
        problem))
        << problem;
    EXPECT_EQ(history, "2 cut in-flight; 1 lan.ip sent; ");
    const RecordRollout next = record->BeginRollout(RolloutStart());
    record->CommandEnded(record->CommandStarted(next, "A", "lan.ip", {"10.1.1.3"}), SendResult::Sent);
    ASSERT_TRUE(record->Flush()) << record->Problem();
    EXPECT_EQ(Printers(*record, {"A"})[0].value, "10.1.1.3");
}

TEST(RecordTest, ConcurrentWritersLoseNoRowAndNeverFail) {
    // Processes that open a new record at once all open it (each round, a new file).
    for (int round = 0; round < 60; ++round) {
        const TempDir folder;
        std::vector<std::thread> openers;
        std::atomic<int> ready{0};
        for (int i = 0; i < 4; ++i) {
            openers.emplace_back([&] {
                for (++ready; ready < 4;) {
                }
                OpenRecord(folder / "record.sqlite");
            });
        }
        for (std::thread& opener : openers) {
            opener.join();
        }
    }
    // Two applies and a monitor at once, each its own connection, an apply's jobs on threads.
    const TempDir folder;
    const std::string path = (folder / "record.sqlite");
    constexpr int kJobs = 8, kCommands = 40;
    std::vector<std::unique_ptr<Record>> writers;
    for (int i = 0; i < 3; ++i) {
        writers.push_back(OpenRecord(path));
    }
    std::vector<std::thread> threads;
    for (int w = 0; w < 2; ++w) {
        threads.emplace_back([&, w] {
            const RecordRollout rollout = writers[w]->BeginRollout(RolloutStart());
            std::vector<std::thread> jobs;
            for (int job = 0; job < kJobs; ++job) {
                jobs.emplace_back([&, job] {
                    const std::string printer =
                        "socket://127.0." + std::to_string(w) + "." + std::to_string(job) + ":9100";
                    for (int i = 0; i < kCommands; ++i) {
                        const RecordSend send =
                            writers[w]->CommandStarted(rollout, printer, "bt-pin", {std::to_string(i)});
                        EXPECT_NE(send.seq, 0);
                        writers[w]->CommandEnded(send, SendResult::Sent);
                    }
                });
            }
            for (std::thread& job : jobs) {
                job.join();
            }
            writers[w]->EndRollout(rollout, "{}");
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
            writers[2]->StatusRead(kPrinterA, i % 2 == 0 ? "ok" : "offline", "");
        }
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const auto& writer : writers) {
        EXPECT_TRUE(writer->Flush()) << writer->Problem();
    }
    EXPECT_EQ(Count(*writers[0], "SELECT count(*) FROM sends WHERE result = 1"), 2 * kJobs * kCommands);
    EXPECT_EQ(Count(*writers[0], "SELECT count(*) FROM statuses"), 200);
    EXPECT_EQ(Count(*writers[0],
                    "SELECT count(*) FROM latest WHERE value = '" + std::to_string(kCommands - 1) + "'"),
              2 * kJobs);
}

TEST(RecordTest, ImportMergesAnotherRecordOnceAndItsFingerprintsStayComparable) {
    const TempDir folder;
    std::unique_ptr<Record> shop = OpenRecord((folder / "shop.sqlite"));
    std::unique_ptr<Record> chain = OpenRecord((folder / "chain.sqlite"));
    const RecordRollout rollout = shop->BeginRollout(RolloutStart());
    shop->CommandEnded(
        shop->CommandStarted(rollout, kPrinterA, "wifi-station.password", {"Old-Secret-1", true}),
        SendResult::Sent);
    const RecordSend inFlight = shop->CommandStarted(rollout, kPrinterA, "cut", {""});
    shop->StatusRead(kPrinterA, "ok", "");
    ASSERT_TRUE(shop->Flush());
    const auto exported = [&] {
        std::ostringstream out;
        std::string problem;
        EXPECT_TRUE(ExportRecord(*shop, out, problem)) << problem;
        return out.str();
    };
    const auto import = [&](const std::string& lines, bool dryRun = false) {
        std::istringstream in(lines);
        ImportCounts counts;
        bool refused = false;
        std::string problem;
        EXPECT_TRUE(ImportRecord(*chain, in, "shop.jsonl", dryRun, counts, refused, problem)) << problem;
        return std::to_string(counts.rollouts) + " " + std::to_string(counts.sends) + " " +
               std::to_string(counts.statuses);
    };
    const std::string first = exported();
    EXPECT_EQ(first.find("Secret-"), std::string::npos);
    EXPECT_EQ(import(first, true), "1 2 1");
    EXPECT_EQ(Count(*chain, "SELECT count(*) FROM sends"), 0);
    EXPECT_EQ(import(first), "1 2 1");
    EXPECT_EQ(import(first), "0 0 0");
    // The shop learns how its command ended; the chain takes that once.
    shop->CommandEnded(inFlight, SendResult::Sent);
    shop->EndRollout(rollout, R"({"printers": 1})");
    ASSERT_TRUE(shop->Flush());
    EXPECT_EQ(import(exported()), "1 1 0");
    EXPECT_EQ(import(exported()), "0 0 0");
    EXPECT_EQ(Count(*chain, "SELECT count(*) FROM sends WHERE result = 1"), 2);
    // The shop's fingerprints are under the shop's key, which came with them.
    EXPECT_EQ(chain->FingerprintFor(rollout.uuid, "Old-Secret-1"), shop->Fingerprint("Old-Secret-1"));
    EXPECT_NE(chain->Fingerprint("Old-Secret-1"), shop->Fingerprint("Old-Secret-1"));
    ASSERT_EQ(Printers(*chain).size(), 2u);

    // A damaged line refuses the whole import.
    std::string damaged = first;
    damaged.replace(damaged.find("\"result\":\"sent\""), 15, "\"result\":\"gone\"");
    const int64_t before = Count(*chain, "SELECT count(*) FROM sends");
    std::istringstream in(
        "{\"type\":\"tolctl-record\",\"version\":1}\n{\"type\":\"status\",\"target\":\"x\",\"time\":1,"
        "\"seq\":1,"
        "\"state\":\"ok\",\"conditions\":\"\"}\n" +
        damaged.substr(damaged.find('\n') + 1));
    ImportCounts counts;
    bool refused = false;
    std::string problem;
    EXPECT_FALSE(ImportRecord(*chain, in, "shop.jsonl", false, counts, refused, problem));
    EXPECT_TRUE(refused);
    EXPECT_NE(problem.find("shop.jsonl:"), std::string::npos) << problem;
    EXPECT_EQ(Count(*chain, "SELECT count(*) FROM sends"), before);
    EXPECT_EQ(Count(*chain, "SELECT count(*) FROM printers WHERE name = 'x'"), 0);
    // A seq beyond a roll-out's room would land among another roll-out's rows: refused.
    std::string far = first;
    far.replace(far.find("\"seq\":1,"), 8, "\"seq\":4294967297,");
    std::istringstream farIn(far);
    EXPECT_FALSE(ImportRecord(*chain, farIn, "shop.jsonl", false, counts, refused, problem));
    EXPECT_NE(problem.find("\"seq\" is not a number from 1 to 4294967295"), std::string::npos) << problem;
}

}  // namespace
