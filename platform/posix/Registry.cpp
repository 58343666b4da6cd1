#include "platform/Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/posix/FileDescriptor.h"
#include "platform/posix/RegistryFormat.h"

// A key handle owns the directory that holds the key's values and subkeys.
struct RegistryKey {
    std::string directory;
    REGSAM access;
};

namespace {

using quorvane::platform::decodeValue;
using quorvane::platform::encodeValue;
using quorvane::platform::escapeName;
using quorvane::platform::FileDescriptor;
using quorvane::platform::StoredValue;

constexpr mode_t kDirectoryMode = 0700;
// Values are a few bytes; a file beyond this was not written here and reads as malformed.
constexpr std::size_t kMaxValueFileSize = 1u << 20;
constexpr std::string_view kDefaultValueFileName = "@";
// Escaped names never start with '.', so temporary files cannot collide with keys or values.
constexpr std::string_view kTempFilePattern = "/.tmp-XXXXXX";
constexpr std::string_view kRegistrySubdirectory = "/quorvane/registry";
constexpr char kKeySeparator = '\\';

// Handles given out by RegCreateKeyExA and not yet closed; anything else is refused with
// ERROR_INVALID_HANDLE instead of being dereferenced.
class LiveKeys {
  public:
    HKEY adopt(std::unique_ptr<RegistryKey> key) {
        std::lock_guard lock(m_mutex);
        m_keys.insert(key.get());
        return key.release();
    }

    std::unique_ptr<RegistryKey> take(HKEY key) {
        std::lock_guard lock(m_mutex);
        if (m_keys.erase(key) == 0) return nullptr;
        return std::unique_ptr<RegistryKey>(key);
    }

    std::optional<RegistryKey> copy(HKEY key) const {
        std::lock_guard lock(m_mutex);
        if (m_keys.count(key) == 0) return std::nullopt;
        return *key;
    }

  private:
    mutable std::mutex m_mutex;
    std::unordered_set<HKEY> m_keys;
};

LiveKeys& liveKeys() {
    static LiveKeys keys;
    return keys;
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

std::string currentUserRoot() {
    // The base directory rules: a relative XDG_CONFIG_HOME is invalid and ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base =
        (xdg != nullptr && xdg[0] == '/') ? std::string(xdg) : homeDirectory() + "/.config";
    return base + std::string(kRegistrySubdirectory);
}

std::optional<RegistryKey> resolve(HKEY key) {
    if (key == HKEY_CURRENT_USER) return RegistryKey{currentUserRoot(), KEY_ALL_ACCESS};
    return liveKeys().copy(key);
}

LONG errorFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ENOTEMPTY:
        case EEXIST:
            return ERROR_ACCESS_DENIED;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        default:
            return static_cast<LONG>(win32ErrorFromErrno(error));
    }
}

// Creates every missing directory of the absolute path `path`.
int makeDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), kDirectoryMode) != 0 && errno != EEXIST) return errno;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

// A temporary file that is removed unless it has been renamed into place.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& directory)
        : m_path(directory + std::string(kTempFilePattern)),
          m_fd(mkostemp(m_path.data(), O_CLOEXEC)),
          m_createError(m_fd.get() >= 0 ? 0 : errno) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (m_createError == 0 && !m_renamed) unlink(m_path.c_str());
    }

    // 0 when the file exists, else the errno of its creation.
    int createError() const { return m_createError; }

    int write(std::string_view content) {
        while (!content.empty()) {
            const ssize_t written = ::write(m_fd.get(), content.data(), content.size());
            if (written < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            content.remove_prefix(static_cast<std::size_t>(written));
        }
        if (fsync(m_fd.get()) != 0) return errno;
        return m_fd.close();
    }

    int renameTo(const std::string& path) {
        if (rename(m_path.c_str(), path.c_str()) != 0) return errno;
        m_renamed = true;
        return 0;
    }

  private:
    std::string m_path;
    FileDescriptor m_fd;
    int m_createError;
    bool m_renamed = false;
};

void syncDirectory(const std::string& directory) {
    FileDescriptor fd(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) fsync(fd.get());
}

LONG valuePath(const RegistryKey& key, LPCSTR valueName, std::string& path) {
    std::string fileName;
    if (valueName == nullptr || valueName[0] == '\0') {
        fileName = kDefaultValueFileName;
    } else if (!escapeName(valueName, fileName)) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    path = key.directory + '/' + fileName;
    return ERROR_SUCCESS;
}

LONG readValueFile(const std::string& path, StoredValue& value) {
    FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return errorFromErrno(errno);
    struct stat info {};
    if (fstat(fd.get(), &info) != 0) return errorFromErrno(errno);
    if (!S_ISREG(info.st_mode)) return ERROR_FILE_NOT_FOUND;
    std::string text;
    char chunk[512];
    for (;;) {
        const ssize_t got = read(fd.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errorFromErrno(errno);
        }
        if (got == 0) break;
        text.append(chunk, static_cast<std::size_t>(got));
        if (text.size() > kMaxValueFileSize) return ERROR_FILE_NOT_FOUND;
    }
    std::optional<StoredValue> decoded = decodeValue(text);
    if (!decoded) return ERROR_FILE_NOT_FOUND;
    value = std::move(*decoded);
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, char* /*keyClass*/, DWORD options,
                     REGSAM desired, LPSECURITY_ATTRIBUTES /*attributes*/, PHKEY result,
                     LPDWORD disposition) {
    if (subKey == nullptr || result == nullptr || reserved != 0 ||
        options != REG_OPTION_NON_VOLATILE) {
        return ERROR_INVALID_PARAMETER;
    }
    std::optional<RegistryKey> parent = resolve(key);
    if (!parent) return ERROR_INVALID_HANDLE;

    // Check every component before touching the disk, so a refused path creates nothing.
    std::vector<std::string> components;
    std::string_view rest = subKey;
    while (!rest.empty()) {
        const std::size_t end = rest.find(kKeySeparator);
        const std::string_view component = rest.substr(0, end);
        if (component.empty() || component == "." || component == "..") {
            return ERROR_INVALID_PARAMETER;
        }
        std::string fileName;
        if (!escapeName(component, fileName)) return ERROR_FILENAME_EXCED_RANGE;
        components.push_back(std::move(fileName));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
        if (rest.empty()) return ERROR_INVALID_PARAMETER;
    }

    if (key == HKEY_CURRENT_USER) {
        if (const int error = makeDirectories(parent->directory); error != 0) {
            return errorFromErrno(error);
        }
    }
    std::string directory = parent->directory;
    bool created = false;
    for (const std::string& component : components) {
        directory += '/';
        directory += component;
        created = mkdir(directory.c_str(), kDirectoryMode) == 0;
        if (!created) {
            if (errno != EEXIST) return errorFromErrno(errno);
            struct stat info {};
            if (stat(directory.c_str(), &info) != 0) return errorFromErrno(errno);
            if (!S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
        }
    }

    *result = liveKeys().adopt(std::make_unique<RegistryKey>(RegistryKey{directory, desired}));
    if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
    const std::optional<RegistryKey> resolved = resolve(key);
    if (!resolved) return ERROR_INVALID_HANDLE;
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((resolved->access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;

    std::string path;
    if (const LONG error = valuePath(*resolved, valueName, path); error != ERROR_SUCCESS) {
        return error;
    }
    StoredValue value;
    if (const LONG error = readValueFile(path, value); error != ERROR_SUCCESS) return error;

    const auto size = static_cast<DWORD>(value.bytes.size());
    if (type != nullptr) *type = value.type;
    if (dataSize == nullptr) return ERROR_SUCCESS;
    const DWORD room = *dataSize;
    *dataSize = size;
    if (data == nullptr) return ERROR_SUCCESS;
    if (room < size) return ERROR_MORE_DATA;
    if (size > 0) std::memcpy(data, value.bytes.data(), size);
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    const std::optional<RegistryKey> resolved = resolve(key);
    if (!resolved) return ERROR_INVALID_HANDLE;
    if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
    if ((resolved->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;

    std::string path;
    if (const LONG error = valuePath(*resolved, valueName, path); error != ERROR_SUCCESS) {
        return error;
    }
    if (key == HKEY_CURRENT_USER) {
        if (const int error = makeDirectories(resolved->directory); error != 0) {
            return errorFromErrno(error);
        }
    }

    // Write beside the value, make it durable, then rename over it: readers see the old file
    // until the rename and the new one after, never a partial write.
    TemporaryFile file(resolved->directory);
    if (const int error = file.createError(); error != 0) return errorFromErrno(error);
    if (const int error = file.write(encodeValue(type, data, dataSize)); error != 0) {
        return errorFromErrno(error);
    }
    if (const int error = file.renameTo(path); error != 0) return errorFromErrno(error);
    syncDirectory(resolved->directory);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    if (!liveKeys().take(key)) return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}
