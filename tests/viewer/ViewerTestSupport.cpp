#include "tests/viewer/ViewerTestSupport.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "platform/Registry.h"
#include "quorvane/Names.h"
#include "tests/support/ProcessSupport.h"
#include "transport/CMclMailbox.h"
#include "transport/TraceMailbox.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/live/CQuorvaneDlg.h"
#include "viewer/windows/CSavedLogDlg.h"

namespace viewertest {

namespace {
constexpr DWORD kPostTimeoutMs = 2000;
constexpr int kDrainWaitMs = 10000;
// Short enough that a wait ends soon after its condition holds.
constexpr int kWaitStepMs = 5;

void copyText(char* field, std::size_t width, const char* text) {
    std::memset(field, 0, width);
    std::strncpy(field, text, width - 1);
}
std::string& configFolder() {
    static std::string folder;
    return folder;
}
}  // namespace

void prepareEnvironment(const char* programPath) {
    const std::string program = std::filesystem::path(programPath).filename().string();
    const std::string mailbox = "QuorvaneViewerTest-" + program + "-" + std::to_string(::getpid());
    ::setenv("QUORVANE_MAILBOX", mailbox.c_str(), 1);
    std::string folder =
        (std::filesystem::temp_directory_path() / "quorvane-viewer-XXXXXX").string();
    if (::mkdtemp(folder.data()) != nullptr) {
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        configFolder() = folder;
        // Named objects of their own too: test programs run side by side, and each window's
        // presence mutex has one name for every viewer of a user.
        const std::string runtime = folder + "/run";
        if (::mkdir(runtime.c_str(), 0700) == 0) ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Tests never talk to the machine's own power services unless they start a bus themselves.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quorvane-test-bus", 0);
}

void cleanUpEnvironment() {
    if (!configFolder().empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(configFolder(), ignored);
    }
}

TraceRecord makeRecord(const char* entryName, const char* entryText, const char* origin,
                       std::uint32_t senderKey, std::int32_t depthDelta, std::int64_t timestamp) {
    TraceRecord record{};
    copyText(record.entryName, sizeof(record.entryName), entryName);
    copyText(record.entryText, sizeof(record.entryText), entryText);
    copyText(record.originName, sizeof(record.originName), origin);
    record.senderKey = senderKey;
    record.depthDelta = depthDelta;
    record.timestamp = timestamp;
    return record;
}

bool postFromChild(const std::vector<TraceRecord>& records) {
    quorvane::test::ChildProcess child([&records](quorvane::test::ChildProcess&) {
        try {
            CMclMailbox mailbox(quorvane::kMailSlots, kTraceRecordSize, traceMailboxName());
            for (const TraceRecord& record : records) {
                if (!mailbox.post(&record, kPostTimeoutMs)) {
                    return 2;
                }
            }
        } catch (DWORD) {
            return 3;
        }
        return 0;
    });
    return child.started() && child.wait() == 0;
}

void drainNow(CQuorvaneDlg& dialog) {
    dialog.OnTimer(CQuorvaneDlg::POLL_TIMER_ID);
    QElapsedTimer waited;
    waited.start();
    while (dialog.isDraining() && waited.elapsed() < kDrainWaitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

::testing::AssertionResult waitUntil(const char* what, const std::function<bool()>& condition,
                                     int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() >= timeoutMs) {
            return ::testing::AssertionFailure() << what << ": not within " << timeoutMs << " ms";
        }
        // Also delivers deferred deletions, which a plain turn of the event loop leaves alone.
        QTest::qWait(kWaitStepMs);
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> rows(const CLogListModel& model) {
    std::vector<std::string> result;
    for (std::size_t row = 0; row < model.size(); ++row) {
        result.emplace_back(model.line(row));
    }
    return result;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

long long readRegistryFlag() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, quorvane::kRegistryKey, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return -2;
    }
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LONG read = RegQueryValueExA(key, quorvane::kRegistryValue, nullptr, nullptr,
                                       reinterpret_cast<LPBYTE>(&value), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS ? static_cast<long long>(value) : -1;
}

void writeRegistryFlag(std::uint32_t value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, quorvane::kRegistryKey, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    const DWORD data = value;
    RegSetValueExA(key, quorvane::kRegistryValue, 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&data), sizeof(data));
    RegCloseKey(key);
}

std::vector<CSavedLogDlg*> savedLogWindows() {
    std::vector<CSavedLogDlg*> windows;
    for (QWidget* widget : QApplication::allWidgets()) {
        if (auto* window = qobject_cast<CSavedLogDlg*>(widget)) {
            windows.push_back(window);
        }
    }
    return windows;
}

void closeSavedLogWindows() {
    for (CSavedLogDlg* window : savedLogWindows()) {
        window->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::size_t statusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string name;
    while (status >> name) {
        std::size_t kilobytes = 0;
        if (name == field + ":" && status >> kilobytes) {
            return kilobytes * 1024;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

}  // namespace viewertest
