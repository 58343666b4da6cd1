#include "viewer/MailboxFailureText.h"

const char* mailboxFailureReason(DWORD code) {
    switch (code) {
        case ERROR_SUCCESS:
            return "no error";
        case ERROR_FILE_NOT_FOUND:
            return "not found";
        case ERROR_TOO_MANY_OPEN_FILES:
            return "too many open files";
        case ERROR_ACCESS_DENIED:
            return "access denied";
        case ERROR_INVALID_HANDLE:
            return "the name is held by another kind of object";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return "out of memory";
        case ERROR_WRITE_FAULT:
            return "write fault";
        case ERROR_GEN_FAILURE:
            return "the system failed";
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_DISK_FULL:
            return "no space left for shared memory";
        case ERROR_INVALID_PARAMETER:
            return "the mailbox exists with another slot count or size";
        case ERROR_ALREADY_EXISTS:
            return "already exists";
        case ERROR_FILENAME_EXCED_RANGE:
            return "the name is too long";
        case ERROR_NOT_OWNER:
            return "not owner";
        case ERROR_TOO_MANY_POSTS:
            return "too many posts";
        default:
            return "unexpected system error";
    }
}

std::string mailboxOpenFailureMessage(std::string_view mailboxName, DWORD code) {
    std::string message = "quorvane: cannot open the trace mailbox \"";
    message += mailboxName;
    message += "\": ";
    message += mailboxFailureReason(code);
    message += " (error ";
    message += std::to_string(code);
    message += ")";
    return message;
}
