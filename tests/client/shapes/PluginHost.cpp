// A host that links nothing of Quorvane: it loads the plugin, traces through it, unloads it (and
// with it libquorvane), and does it all once more. `client_plugin_host PLUGIN`
#include <dlfcn.h>

#include <cstdio>
#include <initializer_list>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    for (const char* text : {"first load", "second load"}) {
        void* plugin = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        if (plugin == nullptr) {
            std::fprintf(stderr, "%s\n", ::dlerror());
            return 3;
        }
        auto trace = reinterpret_cast<int (*)(const char*)>(::dlsym(plugin, "plugin_trace"));
        if (trace == nullptr || trace(text) != 1) return 4;
        if (::dlclose(plugin) != 0) return 5;
    }
    return 0;
}
