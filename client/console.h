// The console as the client writes to it: standard output for the transcript,
// standard error for the client's own complaints, and what kind of terminal,
// if any, is on each end.
#pragma once

#include "client/descriptor_buffer.h"

#include <chrono>
#include <memory>
#include <ostream>
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
    // On standard output through a large buffer of the console's own, which
    // waits through `policy`.
    Console(int out_fd, std::ostream& err, ConsoleMode mode, StopPolicy& policy);
    // On any streams (tests); nothing there waits.
    Console(std::ostream& out, std::ostream& err, ConsoleMode mode);
    Console(std::ostream& out, std::ostream& err, ConsoleMode mode, StopPolicy&)
        : Console(out, err, mode) {}

    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    const ConsoleMode& mode() const noexcept { return mode_; }

    // Shows reply text or the client's own words on standard output. Runs
    // once per chunk of a reply: the common case is a copy into the buffer.
    void show(std::string_view text) {
        if (own_buffer_ != nullptr) {
            if (!own_buffer_->append(text.data(), text.size())) {
                out_.setstate(std::ios::badbit);
            }
        } else {
            out_.write(text.data(), static_cast<std::streamsize>(text.size()));
        }
        if (mode_.editor_prompt) {
            track_tail(text);
        }
    }

    // Shows one of the fixed failure texts ("Exception!", ...): on standard
    // output, or on standard error when the console is quiet.
    void show_failure(std::string_view text);

    // Leaves the prompt "Ok> " for the next line (none when quiet). When the line editor draws
    // prompts, it is only noted here and the editor draws it when it reads.
    void prompt();
    // True (and cleared) when a prompt is waiting for the editor to draw it.
    bool take_pending_prompt() noexcept;
    // The text shown since the last newline, when short and plain enough for
    // the editor to redraw it in front of its prompt; empty otherwise, and
    // `known` false when the cursor's column cannot be told.
    const std::string& line_tail(bool& known) const noexcept;

    // The cursor is known to be at the start of a line (the editor ended one).
    void at_line_start() noexcept {
        tail_.clear();
        tail_known_ = true;
    }

    // Writes out everything held for standard output. False if it cannot be.
    bool flush();
    // The system's error number once standard output has failed, else 0.
    int output_error() const noexcept;
    // Standard output failed with `error` in a write the console did not make
    // (the line editor's drawing): nothing more is written to it.
    void fail_output(int error) noexcept;
    // Reports that standard output failed, once: a script must not take the
    // run for a clean one. True when it has failed.
    bool report_output_failure();
    // Writes out what it holds as the run ends by a signal, waiting at most `limit`.
    void write_out_before_ending(std::chrono::milliseconds limit);

    // One line on standard error, "cmdclient: " first, after standard output
    // has been written out so that the two appear in the order they happened.
    void report(std::string_view message);

    // The end of the run: a prompt still waiting is shown, then the final newline.
    void finish();

  private:
    void track_tail(std::string_view text);

    std::unique_ptr<DescriptorBuffer> own_buffer_;
    std::ostream out_;
    std::ostream& err_;
    ConsoleMode mode_;
    bool prompt_pending_ = false;
    std::string tail_;
    bool tail_known_ = true;
    bool output_failure_reported_ = false;
};

} // namespace cmdclient
