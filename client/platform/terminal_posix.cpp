// The terminal and the signals on POSIX systems.
#include "client/platform/terminal.h"

#include "net/wait.h"

#include <csignal>

#include <unistd.h>

namespace cmdclient::platform {

namespace {
// The signal handler's one way to talk to the client: by necessity globals.
volatile std::sig_atomic_t editor_resized = 0;
volatile std::sig_atomic_t editor_stop = 0;
// Set by a continue: the process has been stopped (by whatever means) and
// is back, cleared by the stop key (see stop_process()).
volatile std::sig_atomic_t editor_continued = 0;

extern "C" void record_editor_signal(int signal) {
    if (signal == SIGTSTP) {
        editor_stop = 1;
        editor_continued = 0;
    } else if (signal == SIGCONT) {
        editor_continued = 1;
    } else {
        editor_resized = 1;
    }
}
struct sigaction tstp_before {};
struct sigaction winch_before {};
struct sigaction cont_before {};
} // namespace

bool is_terminal(int fd) noexcept {
    return ::isatty(fd) != 0;
}

void install_signal_handlers() noexcept {
    net::catch_stop_signals();
    std::signal(SIGXFSZ, SIG_IGN);
}

void catch_editor_signals() noexcept {
    struct sigaction action {};
    action.sa_handler = record_editor_signal;
    sigemptyset(&action.sa_mask);
    // The editor's wait for a key always returns to be told (a wait is never
    // restarted); any other call, such as libedit's own terminal set-up, is
    // restarted rather than failing half done.
    action.sa_flags = SA_RESTART;
    editor_continued = 0; // a continue before the editor's time drew nothing over it
    ::sigaction(SIGWINCH, &action, &winch_before);
    ::sigaction(SIGCONT, &action, &cont_before);
    ::sigaction(SIGTSTP, nullptr, &tstp_before);
    if (tstp_before.sa_handler != SIG_IGN) { // a parent that ignores stops keeps it so
        ::sigaction(SIGTSTP, &action, nullptr);
    }
}

void release_editor_signals() noexcept {
    ::sigaction(SIGTSTP, &tstp_before, nullptr);
    ::sigaction(SIGCONT, &cont_before, nullptr);
    ::sigaction(SIGWINCH, &winch_before, nullptr);
}

EditorSignal take_editor_signal() noexcept {
    if (editor_stop != 0) {
        editor_stop = 0;
        return EditorSignal::stop;
    }
    if (editor_continued != 0) {
        editor_continued = 0;
        return EditorSignal::continued;
    }
    if (editor_resized != 0) {
        editor_resized = 0;
        return EditorSignal::resized;
    }
    return EditorSignal::none;
}

void stop_process() noexcept {
    // Under a script that did not exec the client, the key stops the script's
    // shell at once, and the user's shell may take the terminal back before
    // the editor has handed it back: that hand-back then stops the process
    // (SIGTTOU) until `fg`. Stopping again after that continue would leave
    // the client stopped with no one to continue it.
    if (editor_continued == 0) {
        // The key stopped the rest of the job already; this process stops alone.
        struct sigaction caught {};
        struct sigaction stop {};
        stop.sa_handler = SIG_DFL;
        sigemptyset(&stop.sa_mask);
        ::sigaction(SIGTSTP, &stop, &caught);
        std::raise(SIGTSTP);
        ::sigaction(SIGTSTP, &caught, nullptr);
    }
    editor_continued = 0; // the continue that ended this stop is answered by the caller
}

} // namespace cmdclient::platform
