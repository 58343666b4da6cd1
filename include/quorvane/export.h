#ifndef QUORVANE_EXPORT_H
#define QUORVANE_EXPORT_H
/* Marks what libquorvane exports; everything else in it is hidden. */
#if defined(__GNUC__) || defined(__clang__)
#define QUORVANE_API __attribute__((visibility("default")))
#define QUORVANE_PRINTF(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define QUORVANE_API
#define QUORVANE_PRINTF(formatIndex, firstArgument)
#endif
#endif
