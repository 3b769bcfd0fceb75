// A report written as a long run goes, that replaces the earlier one only once it is whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

/// Where one piece of text lies in the scratch file.
struct SpooledText {
    uint64_t offset = 0;
    uint32_t length = 0;
    bool kept = false;
};

/// The pieces of a report (one per printer, say) are kept in a scratch file as they come, in any
/// order, so that memory holds only their places. At the end the report is written in its own
/// order to a new temporary file beside its name (CreateTemporaryFor: a name no one can know
/// before, never a file or link already there), and that file takes the old report's place in one
/// step: a run that is killed leaves the earlier report as it was, never an empty or half file.
class ReportFile {
  public:
    ReportFile() = default;
    ~ReportFile();  // removes the temporary file of a report that was not finished
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    /// Checks that `path` can be replaced and opens the temporary and the scratch file. False
    /// with `error` saying why ("permission denied").
    bool Open(const std::string& path, std::string& error);
    const std::string& TemporaryPath() const { return m_temporary; }

    /// Keeps one piece; safe to call from several threads. A failed write is remembered for
    /// Finish (the piece is then not kept).
    SpooledText Spool(const std::string& text);
    /// Reads a kept piece back; false when it cannot.
    bool ReadBack(const SpooledText& piece, std::string& text);

    /// Appends `text` to the report itself.
    void Write(const std::string& text);
    /// Puts the report written in the place of the old one. False with `error` saying why when
    /// anything failed; the old report then stays as it was and the temporary file is removed.
    bool Finish(std::string& error);

  private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    using File = std::unique_ptr<std::FILE, Closer>;

    void Fail(int error);

    std::string m_path, m_temporary;
    File m_report, m_scratch;
    std::mutex m_mutex;  // the scratch file and the first error
    uint64_t m_spooled = 0;
    int m_error = 0;  // the first write that failed: its errno
};
