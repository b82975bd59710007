// The line editor module's entry, as the program and the module both see it.
#pragma once

#include "client/console.h"
#include "client/history_file.h"
#include "client/line_source.h"

namespace cmdclient {

// Makes the line editor (see make_line_editor), taking `history`; the caller
// owns the result. Looked up in the module by the name below.
using LineEditorEntry = LineSource* (*)(Console& console, HistoryFile* history);
inline constexpr const char* line_editor_entry_name = "cmdclient_make_line_editor";

} // namespace cmdclient
