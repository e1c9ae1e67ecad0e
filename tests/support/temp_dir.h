// temp_dir.h - a directory of one's own in the temporary directory, removed
// with all it holds when done.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

class TempDir {
public:
    explicit TempDir(const std::string& prefix)
    {
        std::string templ = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
        if (!mkdtemp(templ.data()))
            throw std::runtime_error("mkdtemp " + templ + ": " + strerror(errno));
        path_ = templ;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};
