#include "viewer/files/SavedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <random>

namespace {
// The kernel's own limit on links followed while resolving one name.
constexpr int kMaxLinkHops = 40;
constexpr int kTemporaryNameAttempts = 16;
constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kPermissionBits = 07777;

// Follows `path` through every symbolic link to the file it names, which need not exist yet.
// Returns 0 or the error number that stopped it.
int resolveLinks(const std::string& path, std::string& resolved) {
    std::error_code error;
    std::filesystem::path at = std::filesystem::absolute(path, error);
    if (error) {
        return error.value();
    }
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        struct stat status {};
        if (::lstat(at.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            resolved = at.string();
            return 0;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(at.c_str(), target.data(), target.size());
        if (length < 0) {
            return errno;
        }
        target.resize(static_cast<std::size_t>(length));
        at = at.parent_path() / target;
    }
    return ELOOP;
}

std::string temporaryNameBeside(const std::string& target) {
    static std::mt19937 generator{std::random_device{}()};
    const std::filesystem::path path(target);
    char suffix[16];
    std::snprintf(suffix, sizeof(suffix), "%08x", static_cast<unsigned>(generator()));
    return (path.parent_path() / ("." + path.filename().string() + "." + suffix + ".tmp")).string();
}

bool folderIsWritable(const std::string& target) {
    const std::string folder = std::filesystem::path(target).parent_path().string();
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}
}  // namespace

SavedFile::SavedFile(const std::string& path) {
    if (fail(resolveLinks(path, m_target))) {
        return;
    }
    struct stat status {};
    const bool exists = ::stat(m_target.c_str(), &status) == 0;
    // A rename would split hard links, take another user's file over, or need a folder we
    // cannot write: such a file is rewritten where it is.
    m_inPlace = exists && (status.st_nlink > 1 || status.st_uid != ::geteuid() ||
                           !folderIsWritable(m_target));
    if (m_inPlace) {
        openInPlace();
    } else {
        openReplacement(exists, status.st_mode & kPermissionBits);
    }
}

SavedFile::~SavedFile() {
    if (!m_committed && !m_replacement.empty()) {
        m_file.reset();
        ::unlink(m_replacement.c_str());
    }
}

void SavedFile::openInPlace() {
    const int fd = ::open(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        fail(errno);
        return;
    }
    m_file.emplace(fd);
    m_opened = true;
}

void SavedFile::openReplacement(bool targetExists, unsigned permissions) {
    int fd = -1;
    int openError = EEXIST;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && openError == EEXIST; ++attempt) {
        const std::string name = temporaryNameBeside(m_target);
        // O_EXCL: never write into a file that someone else created under the same name.
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        openError = fd < 0 ? errno : 0;
        if (fd >= 0) {
            m_replacement = name;
        }
    }
    if (fail(openError)) {
        return;
    }
    m_file.emplace(fd);
    m_opened = true;
    if (targetExists && ::fchmod(fd, permissions) != 0) {
        fail(errno);
    }
}

bool SavedFile::fail(int error) {
    if (m_error == 0) {
        m_error = error;
    }
    return error != 0;
}

bool SavedFile::write(std::string_view bytes) {
    if (m_error != 0) {
        return false;
    }
    while (!bytes.empty()) {
        const ssize_t written = ::write(m_file->get(), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            fail(written < 0 ? errno : EIO);
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool SavedFile::commit() {
    if (m_error != 0) {
        return false;
    }
    if (fail(m_file->close())) {
        return false;
    }
    if (!m_inPlace && ::rename(m_replacement.c_str(), m_target.c_str()) != 0) {
        fail(errno);
        return false;
    }
    m_committed = true;
    return true;
}
