// The demo server's simulated machine: a few registers, a little memory, and
// the text commands that inspect and change them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace demo {

class Machine {
  public:
    static constexpr std::size_t memory_size = 4096;

    Machine();

    // Runs one command and returns the reply body: text for the client, or
    // "Syntax error" exactly for a command it does not understand. The caller
    // adds the closing "Ok" to every reply but the syntax error.
    std::string execute(std::string_view command);

    bool terminated() const { return terminated_; }

  private:
    std::string registers() const;
    std::string dump(std::uint32_t address, std::uint32_t count) const;
    std::string number(std::uint32_t value, std::size_t bits) const;

    static constexpr std::size_t register_count = 6;
    std::array<std::uint32_t, register_count> registers_{};
    std::array<std::uint8_t, memory_size> memory_{};
    unsigned radix_ = 16;
    bool terminated_ = false;
};

} // namespace demo
