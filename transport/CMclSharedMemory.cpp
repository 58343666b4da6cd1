#include "transport/CMclSharedMemory.h"
