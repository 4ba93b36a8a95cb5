// The output's files as the file system sees them: which file a path leads
// to (whatever link, relative path or spelling names it), the hidden
// directory a run writes in, and the move that puts a finished file in place
// without replacing a file the run did not mean to replace.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace cli {

// Two paths name the same file exactly when device and inode match.
struct file_id {
    dev_t device;
    ino_t inode;
    bool operator==(const file_id&) const = default;
};

// The file path leads to, following links, when it exists. An archive path
// of GDAL (/vsizip/a.zip/x.tif) leads to its archive; other /vsi paths to
// nothing.
std::optional<file_id> id_of(const std::string& path);

// What path is when it exists but is not a regular file ("a directory", "a
// character device", ...), following links; empty otherwise.
std::string special_kind(const std::string& path);

// Whether anything, even a dangling link, has this name.
bool name_taken(const std::string& path);

// ".<name>.incomplete-<pid>" beside the output: the directory in which the
// run of process pid writes it. The name says that what it holds is not
// finished, and ties it to one output and one process.
std::string work_dir_of(const std::string& output, pid_t pid);

// Removes the work directories of this output left by processes that no
// longer exist (killed outright, or a machine that went down), and returns
// them. Only directories named exactly as work_dir_of names them are
// touched, and in them only regular files.
std::vector<std::string> remove_stale_work_dirs(const std::string& output);

// The regular files in dir, by name.
std::vector<std::string> regular_files_in(const std::string& dir);

// Removes the regular files in dir, then dir itself when that empties it;
// nothing when dir is not a directory (a link to one included).
void remove_work_dir(const std::string& dir);

// Renames from to to; returns 0, or the errno of the failure. With replace,
// a regular file at to is replaced atomically. Without, the move fails with
// EEXIST when anything named to exists, however late it appeared: renameat2
// with RENAME_NOREPLACE, or where the file system lacks it, a hard link to
// from and the unlink of from.
int move_file(const std::string& from, const std::string& to, bool replace);

} // namespace cli
