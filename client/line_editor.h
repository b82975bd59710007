// Line editing and history at a terminal, where the build has a line editor.
#pragma once

#include "client/console.h"
#include "client/history_file.h"
#include "client/line_source.h"

#include <memory>

namespace cmdclient {

// True when the build has a line editor and, where it is a module beside the program,
// the module loads (the first call loads it: only a session at a terminal asks).
bool line_editor_available() noexcept;

// Why line_editor_available() found no line editor where the build has one
// (the module or a library it needs cannot be loaded); empty otherwise.
const char* line_editor_problem() noexcept;

// A line source that edits lines on the terminal, keeps their history in `history` (no
// path: for this run only) and draws the console's pending prompt. Null with no editor.
std::unique_ptr<LineSource> make_line_editor(Console& console, HistoryFile history);

// The module's entry, looked up by name: make_line_editor(), taking `history`.
extern "C" LineSource* cmdclient_make_line_editor(Console& console, HistoryFile* history);

} // namespace cmdclient
