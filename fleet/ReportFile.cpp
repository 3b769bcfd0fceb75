#include "fleet/ReportFile.h"

#include <cerrno>

#include "system/ErrnoText.h"
#include "system/Files.h"

ReportFile::~ReportFile() {
    if (m_report) {
        m_report.reset();
        RemoveFile(m_temporary);
    }
}

bool ReportFile::Open(const std::string& path, std::string& error) {
    // An existing report must be one that may be replaced (not a folder, not read-only), as if it
    // were written in place.
    const File existing{OpenFile(path, "r+b")};
    if (!existing && errno != ENOENT) {
        error = ErrnoText(errno);
        return false;
    }
    m_path = path;
    // A name no one can know before, made anew: a file or link put in its place beforehand is
    // never written through.
    m_report.reset(CreateTemporaryFor(path, false, m_temporary));
    if (!m_report) {
        error = ErrnoText(errno);
        return false;
    }
    m_scratch.reset(OpenScratchFileBeside(path));
    if (!m_scratch) {
        error = ErrnoText(errno);
        m_report.reset();
        RemoveFile(m_temporary);
        return false;
    }
    return true;
}

void ReportFile::Fail(int error) {
    if (m_error == 0) {
        m_error = error != 0 ? error : EIO;
    }
}

SpooledText ReportFile::Spool(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SpooledText piece;
    if (text.size() > UINT32_MAX) {
        Fail(EFBIG);
    }
    if (m_error != 0) {
        return piece;
    }
    if (std::fwrite(text.data(), 1, text.size(), m_scratch.get()) != text.size()) {
        Fail(errno);
        return piece;
    }
    piece.offset = m_spooled;
    piece.length = static_cast<uint32_t>(text.size());
    piece.kept = true;
    m_spooled += text.size();
    return piece;
}

bool ReportFile::ReadBack(const SpooledText& piece, std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!piece.kept || m_error != 0) {
        return false;
    }
    std::FILE* scratch = m_scratch.get();
    text.resize(piece.length);
    if (!SeekFile(scratch, piece.offset) || std::fread(&text[0], 1, text.size(), scratch) != text.size()) {
        Fail(errno);
        return false;
    }
    return true;
}

void ReportFile::Write(const std::string& text) {
    if (m_error == 0 && std::fwrite(text.data(), 1, text.size(), m_report.get()) != text.size()) {
        Fail(errno);
    }
}

bool ReportFile::Finish(std::string& error) {
    m_scratch.reset();
    if (m_report) {
        m_error = FinishFileWhole(m_report.release(), m_temporary, m_path, m_error);
    }
    if (m_error != 0) {
        error = ErrnoText(m_error);
        return false;
    }
    return true;
}
