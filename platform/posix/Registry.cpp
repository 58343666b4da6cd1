#include "platform/Win32.h"
