// Fuzz target: the text form of a double reads back as the same double, both
// through strtod and through the lexer's number literals.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "value/Errors.h"
#include "front/Lexer.h"
#include "FuzzSupport.h"
#include "value/TextForm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferrow;
    if (size < sizeof(double)) return 0;
    double d = 0;
    std::memcpy(&d, data, sizeof d);
    const std::string text = formatNumber(d);
    if (std::isnan(d)) {
        if (text != "nan") fuzz::fail("NaN does not print as nan");
        return 0;
    }
    const double back = std::strtod(text.c_str(), nullptr);
    if (std::memcmp(&back, &d, sizeof d) != 0) fuzz::fail("text does not read back");
    if (text.find_first_of(".en") == std::string::npos) fuzz::fail("a float looks like an integer");

    // A finite non-negative float is also a literal of the language.
    if (std::isfinite(d) && !std::signbit(d)) {
        try {
            const std::vector<Token> tokens = tokenize(text);
            if (tokens.size() != 2 || tokens[0].kind != TokenKind::Number || tokens[0].isInteger)
                fuzz::fail("text is not one float literal");
            if (std::memcmp(&tokens[0].number, &d, sizeof d) != 0)
                fuzz::fail("literal does not read back");
        } catch (const FerrowError&) {
            fuzz::fail("text does not lex");
        }
    }
    return 0;
}
