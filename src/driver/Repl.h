#pragma once

#include <string>

namespace ferrow {

// The interactive prompt on one long-lived tree-walker; always returns 0.
int runRepl();

// True when `text` has more openers (brackets, braces, function, if, while,
// for, try) than closers (brackets, braces, end). Text that does not even
// tokenize counts as complete, so its error is shown at once.
bool isIncomplete(const std::string& text);

}  // namespace ferrow
