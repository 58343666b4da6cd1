#include "transport/CMclError.h"
