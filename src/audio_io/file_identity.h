#pragma once
// Which file a path names, whatever spelling leads to it: the folder's device and inode
// plus the name within it (case-folded where the folder's file system ignores case), and
// the file's own device and inode when it exists (hard links). Two paths through a
// symlinked folder, a hard link or a differently cased name on a case-insensitive file
// system compare equal; path strings alone would not.
#include <sys/types.h>

#include <optional>
#include <string>

namespace sonteva {

struct FileIdentity {
    dev_t folderDevice = 0;
    ino_t folderInode = 0;
    std::string name; // as the file system compares it
    bool exists = false;
    dev_t fileDevice = 0;
    ino_t fileInode = 0;

    // Same folder and name, or (both existing) the same file.
    bool sameAs(const FileIdentity& other) const;
};

// Nothing when the folder cannot be reached (then no file can be written there either).
std::optional<FileIdentity> fileIdentity(const std::string& path);

// True when the file system holding `folder` compares names without regard to case (FAT,
// exFAT, NTFS, SMB shares, HFS+, or a folder with the case-folding attribute).
bool folderIgnoresCase(const std::string& folder);

// A name as such a file system compares it: UTF-8 lower-cased code point by code point;
// bytes that are not valid UTF-8 are kept as they are.
std::string caseFolded(const std::string& name);

} // namespace sonteva
