/* A traced C program: the loop shows as one indented block in the viewer. */
#include <quorvane/quorvane.h>
#include <stdio.h>

int main(void) {
    quorvane_set_origin("example-c");
    quorvane_enter("sum", "of %d squares", 3);
    int sum = 0;
    for (int i = 1; i <= 3; ++i) {
        sum += i * i;
        quorvane_trace("add", "i=%d sum=%d", i, sum);
    }
    quorvane_leave("sum");
    printf("sum=%d posted %llu dropped %llu\n", sum, (unsigned long long)quorvane_posted_count(),
           (unsigned long long)quorvane_dropped_count());
    return 0;
}
