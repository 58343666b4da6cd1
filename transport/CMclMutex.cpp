#include "transport/CMclMutex.h"
