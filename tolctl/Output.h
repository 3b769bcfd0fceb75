// tolctl's standard output, and the check that what it printed was written.
#pragma once

#include <iosfwd>
#include <streambuf>
#include <string>
#include <vector>

/// Standard output (C's stdout) as a stream buffer that keeps the reason of the first write that
/// failed, so that the failure can be told with its cause ("no space left on device").
class StdoutBuffer : public std::streambuf {
  public:
    /// The errno of the first failed write or flush; 0 while none failed.
    int Error() const { return m_nError; }

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int sync() override;

  private:
    void Failed();

    int m_nError = 0;
};

/// Flushes `out` and answers whether everything written to it arrived; when not, says so on `err`
/// ("tolctl: cannot write the output: ...").
bool FinishOutput(std::ostream& out, std::ostream& err);

/// `count` and `noun` for a message: "1 printer", "3 printers".
std::string Counted(size_t count, const std::string& noun);

/// Says each of `problems` on `err` as "tolctl: PROBLEM": the first 20, then how many more.
void ShowProblems(const std::vector<std::string>& problems, std::ostream& err);

/// Prints `rows` (the first the header, where there is one) as a table: each column but the last
/// padded to its widest cell and two spaces, the last as it is; no blank at a line's end. Every
/// table tolctl prints is printed by this.
void PrintColumns(const std::vector<std::vector<std::string>>& rows, std::ostream& out);
