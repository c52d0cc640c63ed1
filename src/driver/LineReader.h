#pragma once
// Reads the prompt's input lines: with line editing and history when
// standard input is a terminal and libedit was found at build time, else as
// plain lines from std::cin.

#include <string>

namespace ferrow {

class LineReader {
public:
    LineReader();
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Shows `prompt` and reads one line without its line feed; false at the
    // end of input or on a read failure.
    bool readLine(const std::string& prompt, std::string& line);

    bool editing() const { return editing_; }

private:
    bool editing_ = false;
};

}  // namespace ferrow
