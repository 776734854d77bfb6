// Reads a deck on standard input with peakpos's reader and prints it in the
// text form of record_text.hpp, for comparing one deck by hand with
// libf2c_reader:  deck_dump < x.deck; libf2c_reader < x.deck
#include "record_text.hpp"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

int main() {
    std::string deck((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    auto run = std::make_unique<peakpos::Run>();
    const std::string text = peakpos::test::read_as_text(deck, *run);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}
