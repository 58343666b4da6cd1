#include "client/ErrorText.h"

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
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
        case ERROR_DISK_FULL:
            return "out of memory";
        default:
            return "the shared objects could not be created";
    }
}

}  // namespace

std::string describeMailboxFailure(const char* mailboxName, DWORD code) {
    static_assert(CMclMailbox::kMaxNameLength == 229, "keep the sentence above in step");
    std::string text = "cannot open mailbox \"";
    text += mailboxName == nullptr ? "" : mailboxName;
    text += "\": ";
    text += mailboxMeaning(code);
    text += " (error " + std::to_string(code) + ": " + win32ErrorText(code) + ")";
    return text;
}
