#include "transport/CMclError.h"

void raiseMclError(DWORD errorCode, const char* sourceName, int line) {
    (void)sourceName;
    (void)line;
    throw errorCode;
}
