// The console as the client writes to it: standard output for the transcript,
// standard error for the client's own complaints, and what kind of terminal,
// if any, is on each end.
#pragma once

#include "client/arguments.h"
#include "client/output.h"
#include "client/session_log.h"

#include <string>
#include <string_view>
#include <utility>

namespace cmdclient {

// What the terminals on each end, if any, make of the run.
struct ConsoleMode {
    bool shows_each_chunk = false; // output is a terminal: a person watches replies grow
    bool interactive = false;      // input is a terminal: Ctrl-C cancels instead of ending
    bool editor_prompt = false;    // the line editor draws the prompt itself
};

// The mode of a run with `options`, with output and input each a terminal or not.
ConsoleMode console_mode(const Options& options, bool output_terminal, bool input_terminal);

class Console {
  public:
    // `options` (-q, --echo, -L, -t) are the run's own, read where they are held.
    Console(int out_fd, int err_fd, const Options& options, ConsoleMode mode);

    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    const ConsoleMode& mode() const noexcept { return mode_; }
    // Standard output: the transcript, and where the line editor draws.
    Output& output() noexcept { return out_; }

    // Opens the session log of -L, if asked for: false, and reported, when it cannot be.
    bool open_log();
    // The session log takes what the console shows.
    bool logging() const noexcept { return log_.active(); }
    SessionLog& log() noexcept { return log_; }

    // Shows reply text or the client's own words on standard output.
    void show(std::string_view text) {
        out_.write(text);
        if (log_.active()) {
            log_.write(text);
        }
    }
    // Shows what is shown only when not quiet (the log takes it either way).
    void show_unless_quiet(std::string_view text);
    // Shows one of the fixed failure texts ("Exception!", ...): on standard
    // output, or on standard error when the console is quiet. At a terminal,
    // and in the log, a partly shown line is ended first.
    void show_failure(std::string_view text);

    // At a terminal, a reply cut short by Ctrl-C ends its partly shown line,
    // so that the notice stands on a line of its own, and the next prompt
    // clears its line first: the terminal's own "^C" echo may have landed
    // there. After a line that ended, the next report (the notice) starts a
    // row of its own on a standard error that is a terminal, below the echo.
    // Nothing changes on a pipe.
    void break_line();

    // Leaves the prompt "Ok> " for the next line (none when quiet). When the
    // line editor draws prompts, it is only noted here and the editor draws it.
    void prompt();
    // True (and cleared) when a prompt is waiting for the editor to draw it.
    bool take_pending_prompt() noexcept { return std::exchange(prompt_pending_, false); }
    // The line read at the prompt: echoed when asked, and logged.
    void line_read(const std::string& line);
    // The line read is sent again (-r): shown as the line editor, if it
    // draws the prompts, would show it typed, and as line_read() shows it.
    void line_repeated(const std::string& line);
    // The line being typed was dropped (Ctrl-C): the next prompt starts a
    // new line on the screen; the log keeps its prompt for the next line.
    void line_dropped();

    // Writes out everything held for standard output, and the log. False if
    // standard output cannot be (failed, or a stop signal came first); a log
    // that fails is reported once and left, costing nothing else.
    bool flush();

    // One line on standard error, "cmdclient: " first, after standard output
    // has been written out so that the two appear in the order they happened.
    void report(std::string_view message);
    // As report(), for a line that comes between a reply and its prompt: at a
    // terminal, a reply that did not end its line gets the row's end from
    // standard error, so that standard output stays as it would be without.
    void report_on_own_row(std::string_view message);
    // Reports the first failure of `output` once: a script must not take the
    // run for a clean one. True when it has failed.
    bool report_failure(Output& output);

    // Closes the session log as the run ends; a failed close is reported as
    // a failed write is, and costs nothing else.
    void close_log();

    // Writes out both streams by `deadline`, as the run ends by a signal.
    void flush_before_ending(net::Clock::time_point deadline);

    // The end of the run: a prompt still waiting is shown, then the final newline.
    void finish();

  private:
    Output out_;
    Output err_;
    SessionLog log_;
    const Options& options_;
    ConsoleMode mode_;
    bool prompt_pending_ = false;
    bool clear_before_prompt_ = false;
    bool error_is_terminal_;
    bool new_row_before_report_ = false;
};

} // namespace cmdclient
