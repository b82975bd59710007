#include "client/stop_policy.h"

namespace cmdclient {

Waited StopPolicy::wait(net::Waitable what, net::Direction direction, net::Deadline deadline) {
    for (;;) {
        switch (net::wait_for(what, direction, deadline)) {
        case net::WaitResult::ready:
            return Waited::ready;
        case net::WaitResult::timed_out:
            return Waited::timed_out;
        case net::WaitResult::interrupted:
            continue;
        case net::WaitResult::failed:
            return Waited::failed;
        case net::WaitResult::stop_signal:
            if (act_on(net::take_stop_signal()) == Waited::cancelled) {
                return Waited::cancelled;
            }
        }
    }
}

Waited StopPolicy::act_on_recorded() {
    const int signal = net::take_stop_signal();
    return signal == 0 ? Waited::ready : act_on(signal);
}

Waited StopPolicy::act_on(int signal) {
    if (signal == 0) {
        return Waited::ready;
    }
    if (signal == net::interrupt_signal && interactive_ && !cancel_ends_run_) {
        cancelled_ = true;
        return Waited::cancelled;
    }
    end_run(signal);
}

void StopPolicy::end_run(int signal) {
    // A signal that comes while writing out must not start it again.
    if (!ending_ && write_out_) {
        ending_ = true;
        write_out_();
    }
    net::end_by_signal(signal);
}

} // namespace cmdclient
