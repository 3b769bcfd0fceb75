// A record as JSON lines, to be read back into another machine's record: `tolctl record export`
// and `tolctl record import`, which build one record of a whole chain of shops.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "record/Record.h"

/// The version of the lines ExportRecord writes; ImportRecord reads this one and older ones.
constexpr int kRecordExportVersion = 1;

/// Writes the whole record to `out` as JSON lines, one object a line: first
/// {"type": "tolctl-record", "version": 1, ...}, then its fingerprint keys, roll-outs, commands
/// sent and status rows. The keys go with it, so that the record it is imported into can tell
/// whether a secret is one sent here. False with `problem` when the record cannot be read.
bool ExportRecord(Record& record, std::ostream& out, std::string& problem);

/// What an import added.
struct ImportCounts {
    int64_t rollouts = 0;  // roll-outs added, or whose end became known
    int64_t sends = 0;     // commands added, or whose result became known (they were in flight)
    int64_t statuses = 0;  // status rows added
    int64_t known = 0;     // lines that changed nothing: the record had them already
};

/// Merges the lines of an export, read from `in` (`origin` names it in messages), into the
/// record in one transaction. A row is known by the id it had where it was written (a roll-out's
/// uuid and the command's place in it), so that importing the same lines again changes nothing;
/// a command still in flight here takes the result the other record knows. With `dryRun`
/// nothing is kept. On failure false with `problem`, and nothing changed; `refused` when the
/// lines are not an export this tolctl reads ("ORIGIN:LINE: ...").
bool ImportRecord(Record& record,
                  std::istream& in,
                  const std::string& origin,
                  bool dryRun,
                  ImportCounts& counts,
                  bool& refused,
                  std::string& problem);
