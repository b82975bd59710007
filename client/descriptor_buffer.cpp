#include "client/descriptor_buffer.h"

#include "client/console_platform.h"

#include <cstring>

namespace cmdclient {

DescriptorBuffer::DescriptorBuffer(int fd) : fd_(fd), buffer_(new char[capacity]) {
    setp(buffer_.get(), buffer_.get() + capacity);
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

bool DescriptorBuffer::write_buffered() {
    const bool written = write_all(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(buffer_.get(), buffer_.get() + capacity);
    return written;
}

bool DescriptorBuffer::write_all(const char* data, std::size_t size) {
    while (size > 0) {
        const long written = platform::write_some(fd_, data, size);
        if (written < 0) {
            const int error = platform::last_error();
            if (platform::interrupted(error)) {
                continue;
            }
            if (platform::would_block(error)) {
                platform::wait_until_writable(fd_); // interrupted or not, try again
                continue;
            }
            return false;
        }
        if (written == 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace cmdclient
