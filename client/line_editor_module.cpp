// The line editor is a module beside the program, loaded only for a session at a
// terminal: a run from a script or with -c never maps libedit and its libraries,
// which would cost it more than the rest of its start-up.
#include "client/line_editor.h"

#include <dlfcn.h>

#include <cstdio>

namespace cmdclient {

namespace {

// Found from the program's own folder, wherever it was installed.
constexpr const char* module_path = "$ORIGIN/" CMDCLIENT_LINE_EDITOR_MODULE;

bool tried = false;
decltype(&cmdclient_make_line_editor) entry = nullptr;
char problem[512] = "";

} // namespace

bool line_editor_available() noexcept {
    if (!tried) {
        tried = true;
        // Bound at once, so that a missing symbol is a failure here rather than
        // a crash at the first key; never unloaded.
        void* module = ::dlopen(module_path, RTLD_NOW | RTLD_LOCAL);
        if (module != nullptr) {
            entry =
                reinterpret_cast<decltype(entry)>(::dlsym(module, "cmdclient_make_line_editor"));
        }
        if (entry == nullptr) {
            const char* why = ::dlerror();
            std::snprintf(problem, sizeof problem, "%s", why != nullptr ? why : module_path);
        }
    }
    return entry != nullptr;
}

const char* line_editor_problem() noexcept {
    return problem;
}

std::unique_ptr<LineSource> make_line_editor(Console& console, HistoryFile history) {
    return std::unique_ptr<LineSource>(line_editor_available() ? entry(console, &history)
                                                               : nullptr);
}

} // namespace cmdclient
