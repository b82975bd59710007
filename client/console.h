// The console as the client writes to it: standard output for the transcript,
// standard error for the client's own complaints, and what kind of terminal,
// if any, is on each end.
#pragma once

#include "client/output.h"

#include <string>
#include <string_view>

namespace cmdclient {

struct ConsoleMode {
    bool shows_each_chunk = false; // output is a terminal: a person watches replies grow
    bool interactive = false;      // input is a terminal: Ctrl-C cancels instead of ending
    bool editor_prompt = false;    // the line editor draws the prompt itself
    bool quiet = false;            // standard output carries the replies' text alone
};

class Console {
  public:
    Console(int out_fd, int err_fd, ConsoleMode mode);

    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    const ConsoleMode& mode() const noexcept { return mode_; }
    // Standard output: the transcript, and where the line editor draws.
    Output& output() noexcept { return out_; }

    // Shows reply text or the client's own words on standard output.
    void show(std::string_view text) { out_.write(text); }
    // Shows one of the fixed failure texts ("Exception!", ...): on standard
    // output, or on standard error when the console is quiet.
    void show_failure(std::string_view text);

    // Leaves the prompt "Ok> " for the next line (none when quiet). When the
    // line editor draws prompts, it is only noted here and the editor draws it.
    void prompt();
    // True (and cleared) when a prompt is waiting for the editor to draw it.
    bool take_pending_prompt() noexcept;

    // Writes out everything held for standard output. False if it cannot be
    // (failed, or a stop signal came first).
    bool flush() { return out_.flush(); }

    // One line on standard error, "cmdclient: " first, after standard output
    // has been written out so that the two appear in the order they happened.
    void report(std::string_view message);
    // Reports the first failure of `output` once: a script must not take the
    // run for a clean one. True when it has failed.
    bool report_failure(Output& output);

    // Writes out both streams by `deadline`, as the run ends by a signal.
    void flush_before_ending(net::Clock::time_point deadline);

    // The end of the run: a prompt still waiting is shown, then the final newline.
    void finish();

  private:
    Output out_;
    Output err_;
    ConsoleMode mode_;
    bool prompt_pending_ = false;
};

} // namespace cmdclient
