#include "driver/LineReader.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#ifdef FERROW_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace ferrow {

LineReader::LineReader() {
#ifdef FERROW_HAVE_LIBEDIT
    editing_ = isatty(STDIN_FILENO) != 0;
    if (editing_) using_history();
#endif
}

LineReader::~LineReader() {
#ifdef FERROW_HAVE_LIBEDIT
    if (editing_) clear_history();
#endif
}

bool LineReader::readLine(const std::string& prompt, std::string& line) {
    std::cout.flush();
#ifdef FERROW_HAVE_LIBEDIT
    if (editing_) {
        std::fflush(stdout);
        const std::unique_ptr<char, decltype(&std::free)> text(readline(prompt.c_str()),
                                                               &std::free);
        if (!text) return false;
        line = text.get();
        // Continuation lines go into the history too, each as typed, so a
        // block can be recalled line by line.
        if (!line.empty()) add_history(text.get());
        return true;
    }
#endif
    std::cout << prompt;
    std::cout.flush();
    return static_cast<bool>(std::getline(std::cin, line));
}

}  // namespace ferrow
