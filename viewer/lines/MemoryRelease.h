#pragma once

// Hands memory the process has freed but the allocator still keeps back to the system, so that
// freeing a large structure lowers the resident size.
void returnFreedMemoryToSystem();
