// Line editing and history at a terminal, where the build has a line editor.
#pragma once

#include "client/console.h"
#include "client/history_file.h"
#include "client/line_source.h"

#include <memory>

namespace cmdclient {

// True when lines can be edited at a terminal: the build has a line editor
// and, where it is a module beside the program, the module loads (the first
// call loads it: only a session at a terminal asks).
bool line_editor_available() noexcept;

// Why line_editor_available() found no line editor where the build has one
// (the module or a library it needs cannot be loaded); empty otherwise.
const char* line_editor_problem() noexcept;

// A line source that edits lines on the terminal (standard input and output)
// and keeps their history in `history` (no path: kept for this run only), drawing the
// console's pending prompt itself. Null when the build has no line editor.
std::unique_ptr<LineSource> make_line_editor(Console& console, HistoryFile history);

// The line editor module's entry, looked up by its name: make_line_editor's
// work, taking `history`; the caller owns the result.
extern "C" LineSource* cmdclient_make_line_editor(Console& console, HistoryFile* history);

} // namespace cmdclient
