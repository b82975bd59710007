#include "client/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <streambuf>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace cmdclient {

namespace {

constexpr std::size_t console_buffer_size = std::size_t{256} << 10;
constexpr int standard_output = 1;

#ifdef _WIN32
int write_descriptor(int fd, const char* data, std::size_t size) {
    return ::_write(fd, data, static_cast<unsigned>(size));
}
bool is_terminal(int fd) {
    return ::_isatty(fd) != 0;
}
#else
long write_descriptor(int fd, const char* data, std::size_t size) {
    return static_cast<long>(::write(fd, data, size));
}
bool is_terminal(int fd) {
    return ::isatty(fd) != 0;
}
#endif

// A plain output buffer on a file descriptor. Replies pass through it chunk by
// chunk, so appending is a bounds check and a copy; the descriptor is written
// only when the buffer is full or flushed.
class DescriptorBuffer final : public std::streambuf {
  public:
    explicit DescriptorBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + console_buffer_size); }

  protected:
    std::streamsize xsputn(const char* text, std::streamsize size) override {
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

    int_type overflow(int_type c) override {
        if (!write_buffered()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override { return write_buffered() ? 0 : -1; }

  private:
    bool write_buffered() {
        const bool written = write_all(pbase(), static_cast<std::size_t>(pptr() - pbase()));
        setp(buffer_, buffer_ + console_buffer_size);
        return written;
    }

    bool write_all(const char* data, std::size_t size) {
        while (size > 0) {
            const auto written = write_descriptor(fd_, data, size);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return false;
            }
            data += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    }

    int fd_;
    char buffer_[console_buffer_size];
};

} // namespace

void configure_console() {
    // Standard input no longer goes through C stdio either; it reads in blocks.
    std::ios::sync_with_stdio(false);
    // Never destroyed: the standard streams flush through it at exit, after
    // every ordinary static object is gone.
    static auto* const console_buffer = new DescriptorBuffer(standard_output);
    std::cout.rdbuf(console_buffer);
}

bool console_is_terminal() noexcept {
    return is_terminal(standard_output);
}

std::string format_text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measuring;
    va_copy(measuring, args);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(&text[0], text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

} // namespace cmdclient
