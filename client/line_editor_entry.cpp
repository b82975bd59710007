// The line editor module's one visible symbol; everything else in it is its
// own, and what it uses of the client (the console, the one wait, the
// terminal's signals) is the program's.
#include "client/line_editor.h"
#include "client/line_editor_module.h"

extern "C" __attribute__((visibility("default"))) cmdclient::LineSource*
cmdclient_make_line_editor(cmdclient::Console& console, cmdclient::HistoryFile* history) {
    return cmdclient::make_line_editor(console, std::move(*history)).release();
}
