#include "audio_io/file_identity.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <locale.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <wctype.h>

#include <array>
#include <cctype>
#include <cstdint>

namespace sonteva {

namespace {

// File systems that compare names without regard to case, by their magic numbers.
constexpr std::array<uint32_t, 9> kCaseInsensitiveFileSystems = {
    0x4d44,     // FAT
    0x2011BAB0, // exFAT
    0x5346544e, // NTFS
    0x7366746e, // NTFS (ntfs3)
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2/3
    0x517B,     // SMB
    0x482b,     // HFS+
    0x9660,     // ISO 9660
};

#ifndef FS_CASEFOLD_FL
#define FS_CASEFOLD_FL 0x40000000
#endif

void splitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string caseFolded(const std::string& name) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(name.data());
    for (size_t i = 0; i < name.size();) {
        const unsigned lead = s[i];
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        uint32_t c = lead < 0x80 ? lead : lead & (0x3F >> (length - 1));
        bool valid = lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4 && i + length <= name.size());
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (s[i + k] & 0xC0) == 0x80;
            c = c << 6 | (s[i + k] & 0x3F);
        }
        if (!valid) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        const auto lower = utf8 ? towlower_l(static_cast<wint_t>(c), utf8)
                                : (c < 0x80 ? static_cast<wint_t>(std::tolower(static_cast<int>(c)))
                                            : static_cast<wint_t>(c));
        appendUtf8(out, static_cast<uint32_t>(lower));
        i += length;
    }
    return out;
}

bool folderIgnoresCase(const std::string& folder) {
    struct statfs fs {};
    if (::statfs(folder.c_str(), &fs) == 0)
        for (uint32_t magic : kCaseInsensitiveFileSystems)
            if (static_cast<uint32_t>(fs.f_type) == magic) return true;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    const bool folded = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL);
    ::close(fd);
    return folded;
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    std::string folder, name;
    splitPath(path, folder, name);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    FileIdentity id;
    id.folderDevice = st.st_dev;
    id.folderInode = st.st_ino;
    id.name = folderIgnoresCase(folder) ? caseFolded(name) : name;
    if (::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.fileDevice = st.st_dev;
        id.fileInode = st.st_ino;
    }
    return id;
}

bool FileIdentity::sameAs(const FileIdentity& other) const {
    if (folderDevice == other.folderDevice && folderInode == other.folderInode &&
        name == other.name)
        return true;
    return exists && other.exists && fileDevice == other.fileDevice && fileInode == other.fileInode;
}

} // namespace sonteva
