// Built when no line editor is available: lines are read as they come.
#include "client/line_editor.h"

namespace cmdclient {

bool line_editor_available() noexcept {
    return false;
}

const char* line_editor_problem() noexcept {
    return "";
}

std::unique_ptr<LineSource> make_line_editor(Console&, HistoryFile) {
    return nullptr;
}

} // namespace cmdclient
