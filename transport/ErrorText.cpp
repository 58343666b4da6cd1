#include "transport/ErrorText.h"

#include <cstdio>
#include <cstring>

#include "transport/CMclMailbox.h"

const char* win32ErrorText(DWORD code) {
    switch (code) {
        case ERROR_SUCCESS:
            return "The operation completed successfully.";
        case ERROR_FILE_NOT_FOUND:
            return "The system cannot find the file specified.";
        case ERROR_TOO_MANY_OPEN_FILES:
            return "The system cannot open the file.";
        case ERROR_ACCESS_DENIED:
            return "Access is denied.";
        case ERROR_INVALID_HANDLE:
            return "The handle is invalid.";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "Not enough memory resources are available to process this command.";
        case ERROR_OUTOFMEMORY:
            return "Not enough memory resources are available to complete this operation.";
        case ERROR_GEN_FAILURE:
            return "A device attached to the system is not functioning.";
        case ERROR_INVALID_PARAMETER:
            return "The parameter is incorrect.";
        case ERROR_DISK_FULL:
            return "There is not enough space on the disk.";
        case ERROR_ALREADY_EXISTS:
            return "Cannot create a file when that file already exists.";
        case ERROR_FILENAME_EXCED_RANGE:
            return "The filename or extension is too long.";
        case ERROR_NOT_OWNER:
            return "Attempt to release mutex not owned by caller.";
        case ERROR_TOO_MANY_POSTS:
            return "Too many posts were made to a semaphore.";
        case ERROR_FILE_CORRUPT:
            return "The file or directory is corrupted and unreadable.";
        case ERROR_TIMEOUT:
            return "This operation returned because the timeout period expired.";
        default:
            return "Unknown error.";
    }
}

namespace {

// What each code means when it comes from opening a mailbox.
const char* mailboxMeaning(DWORD code) {
    switch (code) {
        case ERROR_FILENAME_EXCED_RANGE:
            return "the name is longer than 229 characters";
        case ERROR_INVALID_HANDLE:
            return "the name is taken by another kind of object";
        case ERROR_INVALID_PARAMETER:
            return "an existing mailbox of that name has another slot count or slot size";
        case ERROR_ACCESS_DENIED:
            return "the shared objects are not accessible";
        case ERROR_FILE_CORRUPT:
            return "one of its shared objects is damaged and still in use";
        case ERROR_TIMEOUT:
            return "another process holds it and does not let go (stopped or hung)";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
        case ERROR_DISK_FULL:
            return "out of memory";
        default:
            return "the shared objects could not be created";
    }
}

// " (name)" for a running process, from its command name; empty when it cannot be read.
std::string processName(DWORD processId) {
    const std::string path = "/proc/" + std::to_string(processId) + "/comm";
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) return {};
    char name[64] = {};
    const bool read = std::fgets(name, sizeof name, file) != nullptr;
    std::fclose(file);
    if (!read) return {};
    name[std::strcspn(name, "\n")] = '\0';
    return std::string(" (") + name + ")";
}

}  // namespace

std::string describeMailboxFailure(const char* mailboxName, DWORD code) {
    static_assert(CMclMailbox::kMaxNameLength == 229, "keep the sentence above in step");
    std::string text = "cannot open mailbox \"";
    text += mailboxName == nullptr ? "" : mailboxName;
    text += "\": ";
    const DWORD holder = code == ERROR_TIMEOUT ? CMclMailbox::guardHolderProcessId(mailboxName) : 0;
    // The platform names causes the number cannot: a refused directory, a held name-space lock,
    // the limit of open files. A guard held by a known process says it better.
    const std::string cause = holder == 0 ? DescribeObjectError(code) : std::string();
    if (!cause.empty()) {
        text += cause;
    } else {
        text += mailboxMeaning(code);
        if (holder != 0) text += ": process " + std::to_string(holder) + processName(holder);
    }
    text += " (error " + std::to_string(code) + ": " + win32ErrorText(code) + ")";
    return text;
}
