// The console as the client writes to it: standard output for the transcript,
// standard error for the client's own complaints, and the session log.
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
    // Reads -q, --echo, -L and -t from `options`, which outlive it.
    Console(int out_fd, int err_fd, const Options& options, ConsoleMode mode);

    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    const ConsoleMode& mode() const noexcept { return mode_; }
    // Standard output: the transcript, and where the line editor draws.
    Output& output() noexcept { return out_; }

    // Opens the session log of -L, if asked for: false, and reported, when it cannot be.
    bool open_log();
    bool logging() const noexcept { return log_.active(); }
    SessionLog& log() noexcept { return log_; }

    // Shows reply text or the client's own words on standard output, and logs them.
    void show(std::string_view text) {
        out_.write(text);
        if (log_.active()) {
            log_.write(text);
        }
    }
    // Shows what is shown only when not quiet (the log takes it either way).
    void show_unless_quiet(std::string_view text);
    // Shows a fixed failure text ("Exception!"): on standard error when quiet;
    // at a terminal, and in the log, on a line of its own.
    void show_failure(std::string_view text);

    // After Ctrl-C cut a reply short: at a terminal, the notice and the next
    // prompt each get a row of their own, clear of the "^C" echo. Nothing
    // changes on a pipe.
    void break_line();

    // Leaves the prompt "Ok> " for the next line (none when quiet), or notes it
    // for the line editor to draw.
    void prompt();
    // True, once, when a prompt waits for the editor to draw it.
    bool take_pending_prompt() noexcept { return std::exchange(prompt_pending_, false); }
    // The line read at the prompt: echoed when asked, and logged.
    void line_read(const std::string& line);
    // The line is sent again (-r): shown as if typed at the editor's prompt,
    // then as line_read() shows it.
    void line_repeated(const std::string& line);
    // The line being typed was dropped (Ctrl-C): the next prompt starts a new
    // line on the screen; the log keeps its prompt for the next line.
    void line_dropped();

    // Writes out standard output and the log: false if standard output cannot
    // be (failed, or a stop signal came first); a failed log is reported once.
    bool flush();

    // One line on standard error after "cmdclient: ", standard output written
    // out first, so that the two keep their order.
    void report(std::string_view message);
    // As report(), between a reply and its prompt: at a terminal, standard
    // error ends the reply's open row, leaving standard output as it was.
    void report_on_own_row(std::string_view message);
    // Reports the first failure of `output` once, so that no script takes the
    // run for a clean one: true when it has failed.
    bool report_failure(Output& output);

    // Closes the session log; a failed close is reported as a failed write is.
    void close_log();

    // Writes out both streams by `deadline`, as the run ends by a signal.
    void flush_before_ending(net::Clock::time_point deadline);

    // The end of the run: a prompt still waiting is shown, then the final newline.
    void finish();

  private:
    // At a terminal, ends a line of standard output left open: true if it did.
    bool end_open_line();

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
