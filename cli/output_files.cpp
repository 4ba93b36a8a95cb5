#include "output_files.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace cli {
namespace {

namespace fs = std::filesystem;

std::optional<file_id> plain_id(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return file_id{st.st_dev, st.st_ino};
}

// /vsizip/dir/a.zip/x.tif: the longest leading part of dir/a.zip/x.tif
// that is a regular file.
std::optional<file_id> archive_id(const std::string& path)
{
    for (const char* prefix : {"/vsizip/", "/vsitar/", "/vsigzip/", "/vsi7z/", "/vsirar/"}) {
        const std::string p = prefix;
        if (path.rfind(p, 0) != 0) continue;
        std::string part = path.substr(p.size());
        while (!part.empty()) {
            struct stat st;
            if (::stat(part.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return file_id{st.st_dev, st.st_ino};
            const auto slash = part.find_last_of('/');
            if (slash == std::string::npos || slash == 0) break;
            part.resize(slash);
        }
    }
    return std::nullopt;
}

fs::path directory_of(const std::string& output)
{
    const fs::path dir = fs::path(output).parent_path();
    return dir.empty() ? fs::path(".") : dir;
}

std::string stale_prefix(const std::string& output)
{
    std::string prefix = ".";
    prefix += fs::path(output).filename().string();
    prefix += ".incomplete-";
    return prefix;
}

// The pid in a work directory's name, when the name is exactly
// prefix + digits.
std::optional<pid_t> pid_in(const std::string& name, const std::string& prefix)
{
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 9 || name.rfind(prefix, 0) != 0)
        return std::nullopt;
    const std::string digits = name.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return static_cast<pid_t>(std::stol(digits));
}

} // namespace

std::optional<file_id> id_of(const std::string& path)
{
    return path.rfind("/vsi", 0) == 0 ? archive_id(path) : plain_id(path);
}

std::string special_kind(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (S_ISCHR(st.st_mode)) return "a character device";
    if (S_ISBLK(st.st_mode)) return "a block device";
    if (S_ISFIFO(st.st_mode)) return "a fifo";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    return "not a regular file";
}

bool name_taken(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string work_dir_of(const std::string& output, pid_t pid)
{
    return (fs::path(output).parent_path() / (stale_prefix(output) + std::to_string(pid))).string();
}

std::vector<std::string> remove_stale_work_dirs(const std::string& output)
{
    std::vector<std::string> removed;
    const std::string prefix = stale_prefix(output);
    std::error_code error;
    for (fs::directory_iterator it(directory_of(output), error), end; !error && it != end; it.increment(error)) {
        const auto pid = pid_in(it->path().filename().string(), prefix);
        if (!pid || *pid <= 0 || *pid == getpid()) continue;
        // EPERM: the process exists under another user.
        if (::kill(*pid, 0) == 0 || errno != ESRCH) continue;
        const std::string dir = (fs::path(output).parent_path() / it->path().filename()).string();
        remove_work_dir(dir);
        if (!name_taken(dir)) removed.push_back(dir);
    }
    return removed;
}

std::vector<std::string> regular_files_in(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        struct stat st;
        if (::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
            names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void remove_work_dir(const std::string& dir)
{
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return; // a link is never followed
    for (const std::string& name : regular_files_in(dir)) ::unlink((fs::path(dir) / name).c_str());
    ::rmdir(dir.c_str());
}

int move_file(const std::string& from, const std::string& to, bool replace)
{
    if (replace) return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    // A file system without RENAME_NOREPLACE (NFS, some FUSE ones): link()
    // refuses an existing name as atomically.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

} // namespace cli
