#include "transport/CMclKernel.h"
