#include "transport/CMclMailbox.h"
