#include "client/descriptor_buffer.h"

#include "client/stop_policy.h"

#include <cerrno>

namespace cmdclient {

DescriptorBuffer::DescriptorBuffer(std::size_t capacity, StopPolicy& policy)
    : capacity_(capacity), policy_(policy), buffer_(new char[capacity]) {
    setp(buffer_.get(), buffer_.get() + capacity_);
}

void DescriptorBuffer::attach(int fd) noexcept {
    fd_ = fd;
    kind_ = fd >= 0 ? platform::output_kind(fd) : platform::OutputKind::never_waits;
    error_ = 0;
    setp(buffer_.get(), buffer_.get() + capacity_);
}

std::streamsize DescriptorBuffer::xsputn(const char* text, std::streamsize size) {
    if (size > epptr() - pptr()) {
        if (!write_buffered()) {
            return 0;
        }
        if (size > epptr() - pptr()) {
            return write_all(text, static_cast<std::size_t>(size)) ? size : 0;
        }
    }
    std::memcpy(pptr(), text, static_cast<std::size_t>(size));
    pbump(static_cast<int>(size));
    return size;
}

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type c) {
    if (!write_buffered()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int DescriptorBuffer::sync() {
    return write_buffered() ? 0 : -1;
}

void DescriptorBuffer::write_out_before_ending(std::chrono::milliseconds limit) {
    ending_ = true;
    ending_deadline_ = std::chrono::steady_clock::now() + limit;
    write_buffered();
}

bool DescriptorBuffer::write_buffered() {
    bool writable = false;
    while (pptr() > pbase()) {
        const long written = write_step(pbase(), static_cast<std::size_t>(pptr() - pbase()), writable);
        if (written < 0) {
            break;
        }
        // Move past what was written at once: a write-out as the run ends by
        // a signal (from inside this wait) must not write it again.
        char* const end = pptr();
        setp(pbase() + written, epptr());
        pbump(static_cast<int>(end - pbase()));
    }
    setp(buffer_.get(), buffer_.get() + capacity_); // what could not be written is dropped
    return error_ == 0;
}

bool DescriptorBuffer::write_all(const char* data, std::size_t size) {
    bool writable = false;
    while (size > 0) {
        const long written = write_step(data, size, writable);
        if (written < 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return error_ == 0;
}

void DescriptorBuffer::fail(int error) noexcept {
    if (error_ == 0) {
        error_ = error != 0 ? error : EIO;
    }
}

bool DescriptorBuffer::wait_until_writable() {
    const net::Waitable what = net::waitable_descriptor(fd_);
    if (ending_) {
        return net::wait_for(what, net::Direction::writable, ending_deadline_) ==
               net::WaitResult::ready;
    }
    // A cancel (Ctrl-C at a terminal) is left to the code that owns the reply.
    const Waited waited = policy_.wait(what, net::Direction::writable);
    if (waited == Waited::failed) {
        fail(platform::last_error());
        return false;
    }
    return true;
}

long DescriptorBuffer::write_step(const char* data, std::size_t size, bool& writable) {
    if (error_ != 0) {
        return -1;
    }
    if (fd_ < 0) {
        return static_cast<long>(size); // nowhere to write
    }
    const long written = platform::write_without_waiting(fd_, kind_, data, size, writable);
    writable = false;
    if (written > 0) {
        return written;
    }
    const int error = written < 0 ? platform::last_error() : EIO;
    if (platform::interrupted(error)) {
        if (ending_) {
            return -1;
        }
        policy_.act_on_recorded(); // a stop signal let through cut the write short
        return 0;
    }
    if (platform::would_block(error)) {
        if (!wait_until_writable()) {
            return -1;
        }
        writable = true;
        return 0;
    }
    fail(error);
    return -1;
}

} // namespace cmdclient
