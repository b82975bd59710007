#include "client/console.h"

#include "client/line_editor.h"
#include "client/platform/terminal.h"
#include "client/texts.h"

namespace cmdclient {

namespace {
// Large enough that a reply reaches the descriptor in few writes, small enough
// to keep the client's memory flat and low.
constexpr std::size_t console_buffer_size = std::size_t{64} << 10;
constexpr std::size_t error_buffer_size = 1024;
} // namespace

ConsoleMode console_mode(const Options& options, bool output_terminal, bool input_terminal) {
    ConsoleMode mode;
    mode.shows_each_chunk = output_terminal;
    const bool scripted = !options.commands.empty() || !options.files.empty();
    // With -c or -f there is no prompt to return to: Ctrl-C ends the run, as
    // in a script; and -f - reads standard input as a pipe, even a terminal.
    mode.interactive = input_terminal && !scripted;
    // Quiet, there are no prompts to draw; with -c or -f, no lines to edit.
    // Only then is the line editor's module loaded.
    mode.editor_prompt =
        mode.interactive && output_terminal && !options.quiet && line_editor_available();
    return mode;
}

Console::Console(int out_fd, int err_fd, const Options& options, ConsoleMode mode)
    : out_("standard output", console_buffer_size, out_fd),
      err_("standard error", error_buffer_size, err_fd), options_(options), mode_(mode),
      error_is_terminal_(platform::is_terminal(err_fd)) {
    out_.end_run_on_broken_pipe();
    if (mode_.editor_prompt) {
        out_.track_line_tail();
    }
}

bool Console::open_log() {
    if (options_.log_file && !log_.open(*options_.log_file, options_.timestamps)) {
        report_failure(log_.output());
        return false;
    }
    return true;
}

void Console::show_unless_quiet(std::string_view text) {
    if (!options_.quiet) {
        out_.write(text);
    }
    if (log_.active()) {
        log_.write(text);
    }
}

bool Console::flush() {
    if (!log_.flush()) {
        report_failure(log_.output());
    }
    return out_.flush();
}

void Console::show_failure(std::string_view text) {
    // The log keeps a terminal's form; a pipe's and a file's bytes stay as they are.
    end_open_line();
    if (log_.active()) {
        log_.end_line();
        log_.write(text);
    }
    if (options_.quiet) {
        flush();
        err_.write(text);
        err_.flush();
    } else {
        out_.write(text);
    }
}

void Console::break_line() {
    // The terminal echoes the key ("^C") where the cursor is: after a line
    // ended here, that is the start of a row, so the notice on standard error
    // starts the next one; a partly shown line is ended on standard output.
    const bool line_open = end_open_line();
    clear_before_prompt_ = mode_.shows_each_chunk;
    new_row_before_report_ = error_is_terminal_ && !line_open;
}

bool Console::end_open_line() {
    if (!mode_.shows_each_chunk || out_.ends_line()) {
        return false;
    }
    out_.write("\n");
    out_.at_line_start();
    return true;
}

void Console::prompt() {
    log_.prompt(); // held there until its line is read
    if (options_.quiet) {
        return;
    }
    if (std::exchange(clear_before_prompt_, false)) {
        out_.write(texts::clear_line);
    }
    if (mode_.editor_prompt) {
        prompt_pending_ = true;
    } else {
        out_.write(texts::prompt);
    }
}

void Console::line_read(const std::string& line) {
    // Lines typed at a terminal are on the screen already.
    if (options_.echo && !options_.quiet && !mode_.interactive) {
        out_.write(line);
        out_.write("\n");
    }
    log_.line_read(line);
}

void Console::line_repeated(const std::string& line) {
    if (take_pending_prompt()) {
        out_.write(texts::prompt);
        out_.write(line);
        out_.write("\n");
    }
    line_read(line);
}

void Console::line_dropped() {
    // The editor has moved to the next line itself.
    if (!mode_.editor_prompt) {
        out_.write("\n");
    }
}

void Console::report(std::string_view message) {
    log_.report(message);
    flush();
    if (std::exchange(new_row_before_report_, false)) {
        err_.write("\n");
    }
    err_.write(texts::error_prefix);
    err_.write(message);
    err_.write("\n");
    err_.flush();
}

void Console::report_on_own_row(std::string_view message) {
    if (mode_.shows_each_chunk && !out_.ends_line()) {
        flush();
        err_.write("\n");
        out_.at_line_start();
    }
    report(message);
}

bool Console::report_failure(Output& output) {
    const std::string failure = output.take_failure();
    if (!failure.empty()) {
        report(failure);
    }
    return output.error() != 0;
}

void Console::close_log() {
    if (log_.active() && !log_.close()) {
        report_failure(log_.output());
    }
}

void Console::flush_before_ending(net::Clock::time_point deadline) {
    // The log first: a file, it seldom waits.
    log_.flush_before_ending(deadline);
    out_.flush_before_ending(deadline);
    err_.flush_before_ending(deadline);
}

void Console::finish() {
    if (take_pending_prompt()) {
        out_.write(texts::prompt); // the log holds it already
    }
    show_unless_quiet(texts::final_newline);
    flush();
}

} // namespace cmdclient
