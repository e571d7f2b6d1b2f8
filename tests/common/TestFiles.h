// Files for tests: a scratch folder that goes away with everything in it, a working
// directory that comes back, whole files read and written, and the sorted list of a
// shared corpus folder's files.
//
// A file that cannot be read or written is a test failure naming the path, reported
// as EXPECT_* reports (ADD_FAILURE): the test goes on with what it has (an empty
// string), so a later check says what that led to, and this works from any thread.
// A scratch folder that cannot be made throws instead: there is nothing to go on
// with, and the test framework reports the exception as the test's failure.
#pragma once

#include "tests/common/SharedData.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace tabro::testing {

// A fresh folder under the system's temporary folder, named after the test area
// ("tabro-<area>-XXXXXX"), removed with everything in it when the object goes;
// with Keep::onFailure it stays, and its path is printed, when the running test has
// failed, for a test whose failure messages point at files written there.
class TempDir {
public:
    enum class Keep { never, onFailure };

    explicit TempDir(std::string_view area, Keep keep = Keep::never) : keep_(keep) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / ("tabro-" + std::string(area) + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data()))
            throw std::system_error(errno, std::generic_category(), "cannot make a folder like " + pattern);
        path_ = pattern;
    }
    ~TempDir() { remove(); }
    TempDir(TempDir&& other) noexcept : path_(std::exchange(other.path_, {})), keep_(other.keep_) {}
    TempDir& operator=(TempDir&& other) noexcept {
        if (this != &other) {
            remove();
            path_ = std::exchange(other.path_, {});
            keep_ = other.keep_;
        }
        return *this;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` (which may hold subfolders) inside the folder.
    std::string file(std::string_view name) const { return (path_ / name).string(); }

private:
    void remove() noexcept {
        if (path_.empty()) return;
        if (keep_ == Keep::onFailure && ::testing::Test::HasFailure()) {
            std::cerr << "kept for inspection: " << path_.string() << '\n';
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        path_.clear();
    }

    std::filesystem::path path_;
    Keep keep_ = Keep::never;
};

// Makes `folder` the process's working directory while it lives, then goes back to
// the one before. Declared after the TempDir it enters, so that it leaves first.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::filesystem::path& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~WorkingDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

// A TempDir that is also the working directory while it lives, so that what a test
// makes by a relative name (a new workbook's Book<N>.xlsx) lands there and goes
// with it.
class TempWorkingDir {
public:
    explicit TempWorkingDir(std::string_view area) : dir_(area), inside_(dir_.path()) {}

    const std::filesystem::path& path() const { return dir_.path(); }
    std::string file(std::string_view name) const { return dir_.file(name); }

private:
    TempDir dir_;
    WorkingDirectory inside_;
};

// Sets an environment variable while it lives ($CADHOST_HOME pointed at a TempDir,
// say), then puts back what was there before, or unsets it if nothing was.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) previous_ = old;
        ::setenv(name_.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (previous_)
            ::setenv(name_.c_str(), previous_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// The whole file, byte for byte, or nothing when there is no such file; any other
// failure to read it is a test failure.
inline std::optional<std::string> readFileIfAny(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) {
        ADD_FAILURE() << "cannot read " << path.string();
        return std::string();
    }
    return bytes;
}

// The whole file, byte for byte; a file that is not there is a test failure too.
inline std::string readFile(const std::filesystem::path& path) {
    std::optional<std::string> bytes = readFileIfAny(path);
    if (!bytes) ADD_FAILURE() << "cannot read " << path.string() << ": no such file";
    return bytes.value_or(std::string());
}

// Replaces (or creates) the file with exactly `bytes`.
inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out.fail()) ADD_FAILURE() << "cannot write " << path.string();
}

// The files directly in `folder` whose names end in `extension` (".dxf"; letters
// compared as written), sorted so that a run goes through them in the same order
// everywhere; none where the folder is absent.
inline std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder, std::string_view extension) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == extension) files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

// The files of the shared folder's `part` ("corpus/dxf") with that extension, as
// filesIn lists them; a test that needs them asks TABLORA_REQUIRE_SHARED first.
inline std::vector<std::filesystem::path> corpusFiles(const std::string& part, std::string_view extension) {
    return filesIn(sharedPath(part), extension);
}

}  // namespace tabro::testing
