// A traced C++ program: every call of fib shows as an indented line in the viewer.
#include <quorvane/Trace.h>

#include <cstdio>

int fib(int n) {
    QUORVANE_SCOPE("fib", "n=%d", n);
    return n < 2 ? n : fib(n - 1) + fib(n - 2);
}

int main() {
    QUORVANE_TRACE("start", "computing fib(%d)", 4);
    const int result = fib(4);
    QUORVANE_TRACE("result", "fib(4)=%d", result);
    std::printf("fib(4)=%d posted %llu dropped %llu\n", result,
                static_cast<unsigned long long>(quorvane::postedCount()),
                static_cast<unsigned long long>(quorvane::droppedCount()));
    return 0;
}
