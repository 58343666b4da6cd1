#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace {

namespace fs = std::filesystem;

constexpr char kSubKey[] = "Software\\Quorvane";
constexpr char kValueName[] = "ViewerRunning";

// Saves an environment variable and puts it back when the test ends.
class EnvironmentVariable {
  public:
    explicit EnvironmentVariable(const char* name) : m_name(name) {
        if (const char* value = std::getenv(name)) m_saved = value;
    }
    ~EnvironmentVariable() {
        if (m_saved) {
            setenv(m_name, m_saved->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }
    void set(const std::string& value) const { setenv(m_name, value.c_str(), 1); }
    void unset() const { unsetenv(m_name); }

  private:
    const char* m_name;
    std::optional<std::string> m_saved;
};

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "registry-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        m_xdg.set(m_root.string());
    }

    void TearDown() override {
        for (HKEY key : m_openKeys) RegCloseKey(key);
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    fs::path registryDirectory() const { return m_root / "quorvane" / "registry"; }

    HKEY createKey(const char* subKey, REGSAM access = KEY_QUERY_VALUE | KEY_SET_VALUE,
                   DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        const LONG result =
            RegCreateKeyExA(HKEY_CURRENT_USER, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                            nullptr, &key, disposition);
        EXPECT_EQ(result, ERROR_SUCCESS) << subKey;
        if (key != nullptr) m_openKeys.push_back(key);
        return key;
    }

    static std::string fileContent(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }

    static LONG setDword(HKEY key, const char* name, DWORD value) {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof value);
    }

    static LONG setString(HKEY key, const char* name, const std::string& text) {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1));
    }

    fs::path m_root;
    EnvironmentVariable m_xdg{"XDG_CONFIG_HOME"};
    std::vector<HKEY> m_openKeys;
};

TEST_F(RegistryTest, MissingValueReadsAsFileNotFound) {
    HKEY key = createKey(kSubKey);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(
        RegQueryValueExA(key, kValueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, kValueName, nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, DwordRoundTripsThroughAnotherHandle) {
    HKEY writer = createKey(kSubKey);
    ASSERT_EQ(setDword(writer, kValueName, 0xDEADBEEF), ERROR_SUCCESS);

    HKEY reader = createKey(kSubKey, KEY_QUERY_VALUE);
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    ASSERT_EQ(RegQueryValueExA(reader, kValueName, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, sizeof value);
    EXPECT_EQ(value, 0xDEADBEEFu);

    ASSERT_EQ(setDword(writer, kValueName, 0), ERROR_SUCCESS);
    size = sizeof value;
    ASSERT_EQ(RegQueryValueExA(reader, kValueName, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 0u);
}

TEST_F(RegistryTest, ValuesAreStoredAsOneReadableLinePerFile) {
    HKEY key = createKey(kSubKey);
    const fs::path keyDirectory = registryDirectory() / "Software" / "Quorvane";

    ASSERT_EQ(setDword(key, kValueName, 1), ERROR_SUCCESS);
    EXPECT_EQ(fileContent(keyDirectory / kValueName), "dword:00000001\n");

    ASSERT_EQ(setString(key, "Greeting", "hello world"), ERROR_SUCCESS);
    EXPECT_EQ(fileContent(keyDirectory / "Greeting"), "sz:hello world\n");

    const BYTE bytes[] = {0x01, 0xAB, 0x00};
    ASSERT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, bytes, sizeof bytes), ERROR_SUCCESS);
    EXPECT_EQ(fileContent(keyDirectory / "Blob"), "hex:01,ab,00\n");

    ASSERT_EQ(setString(key, nullptr, "default"), ERROR_SUCCESS);
    EXPECT_EQ(fileContent(keyDirectory / "@"), "sz:default\n");
}

TEST_F(RegistryTest, StringWithControlCharactersRoundTripsThroughEscapes) {
    HKEY key = createKey(kSubKey);
    const std::string text = "line one\nback\\slash\ttab";
    ASSERT_EQ(setString(key, "Text", text), ERROR_SUCCESS);
    EXPECT_EQ(fileContent(registryDirectory() / "Software" / "Quorvane" / "Text"),
              "sz:line one\\nback\\\\slash\\x09tab\n");

    char buffer[64] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, text.size() + 1);
    EXPECT_EQ(std::string(buffer), text);
}

TEST_F(RegistryTest, StringWrittenWithoutTerminatorReadsBackTerminated) {
    HKEY key = createKey(kSubKey);
    ASSERT_EQ(RegSetValueExA(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3),
              ERROR_SUCCESS);
    char buffer[8];
    std::memset(buffer, 'z', sizeof buffer);
    DWORD size = sizeof buffer;
    ASSERT_EQ(
        RegQueryValueExA(key, "Bare", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::string(buffer, size), std::string("abc\0", 4));
}

TEST_F(RegistryTest, BufferTooSmallReportsMoreDataAndTheNeededSize) {
    HKEY key = createKey(kSubKey);
    ASSERT_EQ(setString(key, "Name", "abcdef"), ERROR_SUCCESS);

    char small[4] = {};
    DWORD type = 0;
    DWORD size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(type, REG_SZ);

    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 7u);

    char exact[7] = {};
    size = sizeof exact;
    EXPECT_EQ(
        RegQueryValueExA(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(exact, "abcdef");
}

TEST_F(RegistryTest, CreatingAnExistingKeyReportsOpenedExisting) {
    DWORD disposition = 0;
    createKey(kSubKey, KEY_QUERY_VALUE, &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(fs::is_directory(registryDirectory() / "Software" / "Quorvane"));

    createKey(kSubKey, KEY_QUERY_VALUE, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

    createKey("Software", KEY_QUERY_VALUE, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

    HKEY parent = createKey("Software", KEY_QUERY_VALUE);
    HKEY child = nullptr;
    ASSERT_EQ(RegCreateKeyExA(parent, "Quorvane\\Deeper", 0, nullptr, 0, KEY_QUERY_VALUE, nullptr,
                              &child, &disposition),
              ERROR_SUCCESS);
    m_openKeys.push_back(child);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(fs::is_directory(registryDirectory() / "Software" / "Quorvane" / "Deeper"));
}

TEST_F(RegistryTest, ConcurrentReaderSeesOnlyWholeValuesAndNoTemporaryFileRemains) {
    HKEY key = createKey(kSubKey);
    const std::string shortText = "short";
    const std::string longText(3000, 'x');
    ASSERT_EQ(setString(key, kValueName, shortText), ERROR_SUCCESS);

    constexpr int kWrites = 200;
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (int i = 0; i < kWrites; ++i) {
            if (setString(key, kValueName, i % 2 == 0 ? longText : shortText) != ERROR_SUCCESS) {
                _exit(1);
            }
        }
        _exit(0);
    }

    std::vector<char> buffer(4096);
    int reads = 0;
    int torn = 0;
    int status = 0;
    while (waitpid(writer, &status, WNOHANG) == 0 || reads == 0) {
        DWORD size = static_cast<DWORD>(buffer.size());
        const LONG result = RegQueryValueExA(key, kValueName, nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(buffer.data()), &size);
        ++reads;
        const std::string seen = result == ERROR_SUCCESS && size > 0
                                     ? std::string(buffer.data(), size - 1)
                                     : std::string();
        if (seen != shortText && seen != longText) ++torn;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";

    std::vector<std::string> entries;
    for (const auto& entry :
         fs::directory_iterator(registryDirectory() / "Software" / "Quorvane")) {
        entries.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(entries, std::vector<std::string>{kValueName});
}

TEST_F(RegistryTest, MalformedValueFileReadsAsNotFoundAndIsReplacedByTheNextWrite) {
    HKEY key = createKey(kSubKey);
    const fs::path file = registryDirectory() / "Software" / "Quorvane" / kValueName;
    for (const char* garbage : {"hello\n", "dword:xyz\n", "dword:123456789\n", "hex:1,2\n",
                                "sz:bad escape \\q\n", "sz:two\nlines\n"}) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << garbage;
        DWORD value = 0;
        DWORD size = sizeof value;
        EXPECT_EQ(RegQueryValueExA(key, kValueName, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&value), &size),
                  ERROR_FILE_NOT_FOUND)
            << garbage;
    }
    ASSERT_EQ(setDword(key, kValueName, 7), ERROR_SUCCESS);
    EXPECT_EQ(fileContent(file), "dword:00000007\n");
}

TEST_F(RegistryTest, PathComponentsCannotLeaveTheRegistry) {
    for (const char* bad : {"..", "Software\\..\\..", ".", "a\\\\b", "\\a", "a\\"}) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, bad, 0, nullptr, 0, KEY_QUERY_VALUE, nullptr,
                                  &key, nullptr),
                  ERROR_INVALID_PARAMETER)
            << bad;
        EXPECT_EQ(key, nullptr);
    }
    EXPECT_FALSE(fs::exists(registryDirectory() / "Software"));

    HKEY key = createKey("a/..\\.hidden");
    ASSERT_EQ(setDword(key, "../escape", 1), ERROR_SUCCESS);
    const fs::path keyDirectory = registryDirectory() / "a%2F.." / "%2Ehidden";
    EXPECT_EQ(fileContent(keyDirectory / "%2E.%2Fescape"), "dword:00000001\n");
    EXPECT_FALSE(fs::exists(m_root / "escape"));
}

TEST_F(RegistryTest, HandlesAreCheckedForValidityAndAccess) {
    HKEY readOnly = createKey(kSubKey, KEY_QUERY_VALUE);
    EXPECT_EQ(setDword(readOnly, kValueName, 1), ERROR_ACCESS_DENIED);
    HKEY writeOnly = createKey(kSubKey, KEY_SET_VALUE);
    EXPECT_EQ(setDword(writeOnly, kValueName, 1), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(writeOnly, kValueName, nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);

    HKEY closed = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &closed, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(closed, kValueName, nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(setDword(nullptr, kValueName, 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST_F(RegistryTest, KeyAndValueOfTheSameNameCollideWithAccessDenied) {
    HKEY key = createKey("Software");
    ASSERT_EQ(setDword(key, "Quorvane", 1), ERROR_SUCCESS);
    HKEY clash = nullptr;
    EXPECT_EQ(
        RegCreateKeyExA(key, "Quorvane", 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, &clash, nullptr),
        ERROR_ACCESS_DENIED);
    createKey("Software\\Sub");
    EXPECT_EQ(setDword(key, "Sub", 1), ERROR_ACCESS_DENIED);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Sub", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, WithoutAbsoluteXdgConfigHomeTheRegistryLivesUnderHomeConfig) {
    EnvironmentVariable home("HOME");
    home.set(m_root.string());
    m_xdg.set("relative/config");
    HKEY key = createKey(kSubKey);
    ASSERT_EQ(setDword(key, kValueName, 3), ERROR_SUCCESS);
    EXPECT_EQ(fileContent(m_root / ".config" / "quorvane" / "registry" / "Software" / "Quorvane" /
                          kValueName),
              "dword:00000003\n");
    m_xdg.unset();
    DWORD value = 0;
    DWORD size = sizeof value;
    HKEY again = createKey(kSubKey);
    ASSERT_EQ(RegQueryValueExA(again, kValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 3u);
}

}  // namespace
