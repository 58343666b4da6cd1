#include "transport/CMclSemaphore.h"
