// The tests' one temporary folder: made anew for each test under the system's temporary folder,
// removed with everything in it at the end. Natively and on Windows.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

class TempDir {
  public:
    TempDir() {
        // A random name: CTest runs several test programs at once.
        std::random_device random;
        std::error_code error;
        do {
            m_path = std::filesystem::temp_directory_path() / ("tol-test-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(m_path, error) && !error);
        EXPECT_FALSE(error) << "no temporary folder: " << error.message();
    }
    ~TempDir() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    /// The folder, as UTF-8.
    std::string Path() const { return m_path.u8string(); }
    /// The path of `name` (UTF-8, may name a subfolder) in the folder.
    std::string operator/(const std::string& name) const {
        return (m_path / std::filesystem::u8path(name)).u8string();
    }
    /// Writes `bytes` to the file `name` in the folder; answers its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(std::filesystem::u8path(*this / name), std::ios::binary) << bytes;
        return *this / name;
    }
    /// What the file `name` in the folder holds ("" when there is none).
    std::string Read(const std::string& name) const {
        std::ifstream file(std::filesystem::u8path(*this / name), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    }

  private:
    std::filesystem::path m_path;
};
