#pragma once

// How long one cache line takes to pass from one processor to another on this machine: two
// threads, pinned to the first two processors this process may use, hand a counter back and
// forth `handovers` times. Mean nanoseconds per handover, or 0 when there are not two processors
// to pin to.
//
// Every figure with a reader on another processor is made of such handovers, and on a virtual
// machine their cost moves with where the host runs its processors (45 and 240 ns measured
// minutes apart on one machine), so the benchmarks print it beside those figures.
double cacheLineHandoverNs(int handovers = 200'000);
