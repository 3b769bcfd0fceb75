#include "tolctl/Recording.h"

#include <ostream>

#include "tolctl/Tolctl.h"

const char* const kNoRecordHint = "; nothing was sent (--no-record sends without keeping a record)";

bool RecordPathFor(const GlobalOptions& global,
                   const std::string& who,
                   std::string& path,
                   std::ostream& err) {
    std::string problem;
    if (!RecordPath(global, path, problem)) {
        err << "tolctl: " << who << ": " << problem << kNoRecordHint << '\n';
        return false;
    }
    return true;
}

bool OpenRecordToWrite(const std::string& path,
                       const std::string& who,
                       std::unique_ptr<Record>& record,
                       int& code,
                       std::ostream& err) {
    if (path.empty()) {
        return true;  // --no-record
    }
    RecordProblem why;
    record = Record::Open(path, RecordMode::Write, why);
    if (record == nullptr) {
        err << "tolctl: " << who << ": " << why.text << kNoRecordHint << '\n';
        code = why.kind == RecordProblem::Kind::Refused ? kExitUsage : kExitPort;
        return false;
    }
    return true;
}

std::unique_ptr<Record> OpenRecordToRead(const std::string& path, const std::string& who, std::ostream& err) {
    if (path.empty()) {
        return nullptr;
    }
    RecordProblem why;
    std::unique_ptr<Record> record = Record::Open(path, RecordMode::ReadOnly, why);
    if (record == nullptr && why.kind != RecordProblem::Kind::Missing) {
        err << "tolctl: " << who << ": " << why.text << '\n';
    }
    return record;
}
