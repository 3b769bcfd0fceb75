// A folder of its own under the system's temporary folder for one test, on every platform,
// removed with everything in it (TolctlProgram.h's TempDir is the POSIX programs' own).
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

class TempFolder {
  public:
    /// `prefix` begins its name ("tolctl-record-").
    explicit TempFolder(const std::string& prefix = "tolctl-test-")
        // Random per process: CTest runs each test as a process of its own, several at once.
        : m_path(std::filesystem::temp_directory_path() /
                 (prefix + std::to_string(std::random_device{}()) + "-" + std::to_string(++Count()))) {
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    /// Writes `bytes` as the file `name` in it; answers its path (UTF-8).
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path path = m_path / std::filesystem::u8path(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path.u8string();
    }
    /// The path (UTF-8) of `name` in it.
    std::string Path(const std::string& name) const {
        return (m_path / std::filesystem::u8path(name)).u8string();
    }
    /// What the file `name` holds ("" when there is none).
    std::string Read(const std::string& name) const {
        std::ifstream file(m_path / std::filesystem::u8path(name), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    }

  private:
    static std::atomic<unsigned>& Count() {
        static std::atomic<unsigned> count{0};
        return count;
    }

    std::filesystem::path m_path;
};
