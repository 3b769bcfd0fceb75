// The fleet record as the subcommands that send or read printers open it (record/Record.h).
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "record/Record.h"
#include "tolctl/Options.h"

/// The record's file that `global` names (RecordPath): empty with --no-record. False with the
/// reason said on `err` ("tolctl: WHO: ...") when there is no place for one.
bool RecordPathFor(const GlobalOptions& global, const std::string& who, std::string& path, std::ostream& err);

/// The record at `path` opened for writing by subcommand `who` ("apply"); `record` stays null
/// when `path` is empty (--no-record). False with the reason said on `err` and the exit code in
/// `code` (1: it could not be opened or written; 2: refused, a record of a newer tolctl or not a
/// record).
bool OpenRecordToWrite(const std::string& path,
                       const std::string& who,
                       std::unique_ptr<Record>& record,
                       int& code,
                       std::ostream& err);

/// For --dry-run: the record at `path` opened without writing anything, or null when none is kept
/// or there is none yet (or it cannot be read, said on `err`).
std::unique_ptr<Record> OpenRecordToRead(const std::string& path, const std::string& who, std::ostream& err);

/// What a subcommand that sends adds when the record cannot be written: "; nothing was sent
/// (--no-record sends without keeping a record)".
extern const char* const kNoRecordHint;
