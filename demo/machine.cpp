#include "demo/machine.h"

#include "demo/number.h"

#include <optional>
#include <sstream>
#include <vector>

namespace demo {

namespace {

constexpr const char* register_names[] = {"A", "B", "C", "D", "SP", "PC"};
constexpr const char* syntax_error = "Syntax error";
constexpr std::uint32_t bytes_per_line = 16;

constexpr const char* help_text =
    "Commands (numbers: decimal 42, C hex 0x2a or assembler hex 2ah):\n"
    "  help                      this list\n"
    "  regs                      show the registers\n"
    "  set REG VALUE             set a register (A B C D SP PC)\n"
    "  mem ADDR [COUNT]          dump COUNT bytes of memory (default 64)\n"
    "  poke ADDR VALUE...        store bytes from ADDR on\n"
    "  fill ADDR COUNT VALUE     store one byte value COUNT times\n"
    "  radix N                   show registers and memory in radix 2, 8, 10 or 16\n"
    "  terminate                 stop the server, for every client\n"
    "Memory holds 4096 bytes; a range beyond it is a syntax error.\n"
    "Numbers above 0xFFFFFFFF are a syntax error; bytes keep their low 8 bits.\n";

std::vector<std::string_view> words(std::string_view command) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while (at < command.size()) {
        const std::size_t start = command.find_first_not_of(" \t\r\n", at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = command.find_first_of(" \t\r\n", start);
        found.push_back(command.substr(start, end - start));
        at = end == std::string_view::npos ? command.size() : end;
    }
    return found;
}

std::optional<std::size_t> register_index(std::string_view name) {
    for (std::size_t i = 0; i < std::size(register_names); ++i) {
        if (name == register_names[i]) {
            return i;
        }
    }
    return std::nullopt;
}

// Digits needed to show a value of `bits` bits in `radix`.
std::size_t width_for(std::size_t bits, unsigned radix) {
    std::size_t width = 0;
    for (std::uint64_t limit = 1; limit < (std::uint64_t{1} << bits); limit *= radix) {
        ++width;
    }
    return width;
}

} // namespace

Machine::Machine() {
    registers_[4] = memory_size; // the stack starts at the top of memory
    for (std::size_t i = 0; i < memory_size; ++i) {
        memory_[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
}

std::string Machine::number(std::uint32_t value, std::size_t bits) const {
    return format_number(value, radix_, radix_ == 10 ? 1 : width_for(bits, radix_));
}

std::string Machine::registers() const {
    std::string text;
    for (std::size_t i = 0; i < register_count; ++i) {
        text += register_names[i];
        text += '=';
        text += number(registers_[i], 32);
        text += i + 1 < register_count ? ' ' : '\n';
    }
    return text;
}

std::string Machine::dump(std::uint32_t address, std::uint32_t count) const {
    std::string text;
    for (std::uint32_t line = 0; line < count; line += bytes_per_line) {
        text += number(address + line, 16);
        text += ':';
        for (std::uint32_t i = line; i < count && i < line + bytes_per_line; ++i) {
            text += ' ';
            text += number(memory_[address + i], 8);
        }
        text += '\n';
    }
    return text;
}

std::string Machine::execute(std::string_view command) {
    const std::vector<std::string_view> w = words(command);
    if (w.empty()) {
        return syntax_error;
    }
    std::vector<std::optional<std::uint32_t>> n;
    for (std::size_t i = 1; i < w.size(); ++i) {
        n.push_back(parse_number(w[i]));
    }
    auto all_numbers = [&n](std::size_t from) {
        for (std::size_t i = from; i < n.size(); ++i) {
            if (!n[i]) {
                return false;
            }
        }
        return true;
    };
    auto in_memory = [](std::uint32_t address, std::uint64_t count) {
        return address < memory_size && address + count <= memory_size;
    };

    const std::string_view verb = w[0];
    if (verb == "help" && w.size() == 1) {
        return help_text;
    }
    if (verb == "regs" && w.size() == 1) {
        return registers();
    }
    if (verb == "set" && w.size() == 3 && register_index(w[1]) && n[1]) {
        registers_[*register_index(w[1])] = *n[1];
        return registers();
    }
    if (verb == "radix" && w.size() == 2 && n[0] &&
        (*n[0] == 2 || *n[0] == 8 || *n[0] == 10 || *n[0] == 16)) {
        radix_ = *n[0];
        return "Radix " + format_number(radix_, 10) + "\n";
    }
    if (verb == "mem" && (w.size() == 2 || w.size() == 3) && all_numbers(0)) {
        const std::uint32_t count = w.size() == 3 ? *n[1] : 64;
        if (in_memory(*n[0], count)) {
            return dump(*n[0], count);
        }
    }
    if (verb == "poke" && w.size() >= 3 && all_numbers(0) && in_memory(*n[0], n.size() - 1)) {
        for (std::size_t i = 1; i < n.size(); ++i) {
            memory_[*n[0] + i - 1] = static_cast<std::uint8_t>(*n[i]);
        }
        return dump(*n[0], static_cast<std::uint32_t>(n.size() - 1));
    }
    if (verb == "fill" && w.size() == 4 && all_numbers(0) && in_memory(*n[0], *n[1])) {
        for (std::uint32_t i = 0; i < *n[1]; ++i) {
            memory_[*n[0] + i] = static_cast<std::uint8_t>(*n[2]);
        }
        return "Filled " + format_number(*n[1], 10) + (*n[1] == 1 ? " byte\n" : " bytes\n");
    }
    if (verb == "terminate" && w.size() == 1) {
        terminated_ = true;
        return "Server stopping\n";
    }
    return syntax_error;
}

} // namespace demo
