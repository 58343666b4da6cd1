// A plugin a host loads with dlopen and unloads with dlclose: it keeps a tracer of static storage
// duration, built when loaded and destroyed when unloaded.
#include "quorvane/Tracer.h"

namespace {
quorvane::Tracer g_pluginTracer;
}

extern "C" __attribute__((visibility("default"))) int plugin_trace(const char* text) {
    return g_pluginTracer.postText(0, "plugin", text) ? 1 : 0;
}
