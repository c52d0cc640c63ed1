#include "driver/Repl.h"

#include <deque>
#include <iostream>
#include <memory>
#include <new>
#include <optional>

#include "driver/Diagnostics.h"
#include "driver/Driver.h"
#include "driver/LineReader.h"
#include "driver/SourceRun.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "interp/Interpreter.h"
#include "value/TextForm.h"

namespace ferrow {

namespace {

const char* const kReplName = "<repl>";
const char* const kPrimaryPrompt = ">> ";
const char* const kContinuationPrompt = ".. ";

}  // namespace

bool isIncomplete(const std::string& text) {
    std::vector<Token> tokens;
    try {
        tokens = tokenize(text);
    } catch (const FerrowError&) {
        return false;
    }
    long depth = 0;
    for (const Token& token : tokens) {
        switch (token.kind) {
            case TokenKind::LParen:
            case TokenKind::LBracket:
            case TokenKind::LBrace:
            case TokenKind::Function:
            case TokenKind::If:
            case TokenKind::While:
            case TokenKind::For:
            case TokenKind::Try:
                ++depth;
                break;
            case TokenKind::RParen:
            case TokenKind::RBracket:
            case TokenKind::RBrace:
            case TokenKind::End:
                --depth;
                break;
            default:
                break;
        }
    }
    return depth > 0;
}

int runRepl() {
    // Function values point into the trees of the inputs that made them, and
    // any later input may call them, so every accepted tree lives until the
    // prompt ends. A deque never moves its elements.
    std::deque<Block> trees;
    std::unique_ptr<Interpreter> interpreter;
    if (reportFailures("", kReplName, [&] { interpreter = std::make_unique<Interpreter>(); }) != 0) {
        return 0;
    }
    std::cout << "Ferrow " << versionString << "  --  type Ctrl-D (or 'exit') to quit\n";

    LineReader reader;
    std::string pending;
    std::string prompt = kPrimaryPrompt;
    std::string line;
    while (true) {
        if (!reader.readLine(prompt, line)) {
            std::cout << "\n";
            std::cout.flush();
            return 0;
        }
        if (pending.empty() && (line == "exit" || line == "quit")) return 0;
        if (pending.empty()) {
            pending = line;
        } else {
            pending += '\n';
            pending += line;
        }

        Block program;
        bool parsed = false;
        bool incomplete = false;
        // Only a language error may mean "unfinished"; anything else is
        // reported by reportFailures and ends the piece.
        reportFailures(pending, kReplName, [&] {
            try {
                program = parse(tokenize(pending));
                parsed = true;
            } catch (const FerrowError&) {
                if (!isIncomplete(pending)) throw;
                incomplete = true;
            }
        });
        if (incomplete) {
            prompt = kContinuationPrompt;
            continue;
        }
        pending.clear();
        prompt = kPrimaryPrompt;
        if (!parsed) continue;

        trees.push_back(std::move(program));
        const Block& tree = trees.back();
        // A script's exit ends the prompt, with its status.
        std::optional<int> exitStatus;
        reportFailures("", kReplName, [&] {
            try {
                const Value result = interpreter->runForValue(tree);
                if (!result.isNil()) std::cout << toRepr(result) << "\n";
            } catch (const ExitRequest& exit) {
                exitStatus = exit.status;
            }
        });
        if (exitStatus) return *exitStatus;
    }
}

}  // namespace ferrow
