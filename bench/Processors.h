#pragma once
#include <vector>

// The processors the calling thread may run on, lowest first; empty when they cannot be read.
std::vector<int> usableCpus();
