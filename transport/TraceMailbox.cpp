#include "transport/TraceMailbox.h"

#include <cstdlib>
#include <new>

#include "quorvane/TraceRecord.h"
#include "transport/ErrorText.h"

const char* traceMailboxName() {
    // Never destroyed: tracers in static destructors still ask for it.
    static const std::string* const name = [] {
        const char* configured = std::getenv(quorvane::kMailboxNameVariable);
        return new std::string(configured != nullptr && configured[0] != '\0'
                                   ? configured
                                   : quorvane::kDefaultMailboxName);
    }();
    return name->c_str();
}

TraceMailboxOpening openTraceMailbox(DWORD openTimeoutMs, const char* name, DWORD slotCount) {
    if (name == nullptr) name = traceMailboxName();
    TraceMailboxOpening opening;
    try {
        opening.mailbox = std::make_unique<CMclMailbox>(slotCount, quorvane::kTraceRecordSize, name,
                                                        nullptr, openTimeoutMs);
        return opening;
    } catch (DWORD code) {
        opening.code = code;
    } catch (const std::bad_alloc&) {
        opening.code = ERROR_NOT_ENOUGH_MEMORY;
    }
    try {
        opening.reason = describeMailboxFailure(name, opening.code);
    } catch (...) {
        // Without memory for the sentence the code alone has to do.
    }
    return opening;
}
