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

// A key handle owns the directory that holds the key's values and subkeys.
struct RegistryKey {
    std::string directory;
    REGSAM access;
};

namespace {

using quorvane::platform::FileDescriptor;

constexpr mode_t kDirectoryMode = 0700;
constexpr std::size_t kMaxFileNameLength = 255;
// Values are a few bytes; a file beyond this was not written here and reads as malformed.
constexpr std::size_t kMaxValueFileSize = 1u << 20;
constexpr std::string_view kDefaultValueFileName = "@";
// Escaped names never start with '.', so temporary files cannot collide with keys or values.
constexpr std::string_view kTempFilePattern = "/.tmp-XXXXXX";
constexpr std::string_view kRegistrySubdirectory = "/quorvane/registry";
constexpr char kKeySeparator = '\\';

constexpr std::string_view kDwordTag = "dword:";
constexpr std::string_view kStringTag = "sz:";
constexpr std::string_view kBinaryTag = "hex:";
constexpr std::string_view kTypedBinaryTag = "hex(";
constexpr std::size_t kDwordDigits = 8;
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kNameEscapeDigits[] = "0123456789ABCDEF";

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

bool isPlainNameByte(unsigned char c, bool first) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    if (c == '-' || c == '_' || c == ' ') return true;
    return c == '.' && !first;
}

// Turns a key or value name into a file name that is one path component and never starts with
// '.'; returns false when the result would not fit a file name.
bool escapeName(std::string_view name, std::string& fileName) {
    fileName.clear();
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (isPlainNameByte(c, i == 0)) {
            fileName += static_cast<char>(c);
        } else {
            fileName += '%';
            fileName += kNameEscapeDigits[c >> 4];
            fileName += kNameEscapeDigits[c & 0xF];
        }
    }
    return fileName.size() <= kMaxFileNameLength;
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

void appendHexByte(std::string& text, unsigned char byte) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0xF];
}

std::string encodeValue(DWORD type, const BYTE* data, DWORD size) {
    std::string text;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD value = 0;
        std::memcpy(&value, data, sizeof value);
        text = kDwordTag;
        for (int shift = 28; shift >= 0; shift -= 4) text += kHexDigits[(value >> shift) & 0xF];
    } else if (type == REG_SZ) {
        if (size > 0 && data[size - 1] == 0) --size;
        text = kStringTag;
        for (DWORD i = 0; i < size; ++i) {
            const unsigned char c = data[i];
            if (c == '\\') {
                text += "\\\\";
            } else if (c == '\n') {
                text += "\\n";
            } else if (c < 0x20 || c == 0x7F) {
                text += "\\x";
                appendHexByte(text, c);
            } else {
                text += static_cast<char>(c);
            }
        }
    } else {
        if (type == REG_BINARY) {
            text = kBinaryTag;
        } else {
            text = kTypedBinaryTag;
            bool leading = true;
            for (int shift = 28; shift >= 0; shift -= 4) {
                const DWORD digit = (type >> shift) & 0xF;
                if (digit == 0 && leading && shift > 0) continue;
                leading = false;
                text += kHexDigits[digit];
            }
            text += "):";
        }
        for (DWORD i = 0; i < size; ++i) {
            if (i > 0) text += ',';
            appendHexByte(text, data[i]);
        }
    }
    text += '\n';
    return text;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseHexBytes(std::string_view text, std::vector<BYTE>& bytes) {
    if (text.empty()) return true;
    for (std::size_t i = 0;; i += 3) {
        if (i + 2 > text.size()) return false;
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<BYTE>(high << 4 | low));
        if (i + 2 == text.size()) return true;
        if (text[i + 2] != ',') return false;
    }
}

bool parseHexNumber(std::string_view text, std::size_t maxDigits, DWORD& value) {
    if (text.empty() || text.size() > maxDigits) return false;
    value = 0;
    for (char c : text) {
        const int digit = hexValue(c);
        if (digit < 0) return false;
        value = value << 4 | static_cast<DWORD>(digit);
    }
    return true;
}

bool unescapeString(std::string_view text, std::vector<BYTE>& bytes) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes.push_back(static_cast<BYTE>(text[i]));
            continue;
        }
        if (++i == text.size()) return false;
        if (text[i] == '\\') {
            bytes.push_back('\\');
        } else if (text[i] == 'n') {
            bytes.push_back('\n');
        } else if (text[i] == 'x' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            bytes.push_back(static_cast<BYTE>(hexValue(text[i + 1]) << 4 | hexValue(text[i + 2])));
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

std::optional<StoredValue> decodeValue(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (text.find('\n') != std::string_view::npos) return std::nullopt;
    StoredValue value;
    if (text.starts_with(kDwordTag)) {
        DWORD number = 0;
        if (!parseHexNumber(text.substr(kDwordTag.size()), kDwordDigits, number)) {
            return std::nullopt;
        }
        value.type = REG_DWORD;
        value.bytes.resize(sizeof number);
        std::memcpy(value.bytes.data(), &number, sizeof number);
    } else if (text.starts_with(kStringTag)) {
        value.type = REG_SZ;
        if (!unescapeString(text.substr(kStringTag.size()), value.bytes)) return std::nullopt;
        value.bytes.push_back(0);
    } else if (text.starts_with(kBinaryTag)) {
        value.type = REG_BINARY;
        if (!parseHexBytes(text.substr(kBinaryTag.size()), value.bytes)) return std::nullopt;
    } else if (text.starts_with(kTypedBinaryTag)) {
        text.remove_prefix(kTypedBinaryTag.size());
        const std::size_t close = text.find("):");
        if (close == std::string_view::npos ||
            !parseHexNumber(text.substr(0, close), kDwordDigits, value.type) ||
            !parseHexBytes(text.substr(close + 2), value.bytes)) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    return value;
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
