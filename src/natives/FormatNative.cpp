// format(template, ...): the printf-style conversions %d %i %x %X %o %b
// (integers), %f %e %g (floats), %s %q (any value) and %%, with the flags
// - + space 0 #, a width and a precision, either given as * to take them
// from the arguments. The text is built here byte by byte: a script's
// template never reaches the C library's printf.
//
// Where this differs from C, or where C leaves the choice open:
// - Integers are formatted exactly from their 64 bits, never through a
//   double; %x %X %o %b write a negative value as a sign and its magnitude
//   (as hex and bin do), and ignore the + and space flags as C does.
// - %d and the other integer conversions accept a float only when it holds
//   a whole number in the integer range (n / 2 of an even n is 3.0, say).
// - %s is the display form (as print and str show a value), %q the quoted
//   form (as repr); both pad with spaces, and a precision cuts them to that
//   many bytes. Widths and precisions count bytes.
// - Every argument must be used: a missing one, one too many, a stray % at
//   the end of the template or an unknown conversion is an error.
// - Widths and precisions are at most kMaxField.

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

#include "natives/NativeFunctions.h"
#include "natives/NativeSupport.h"
#include "natives/Registry.h"
#include "value/TextForm.h"

namespace ferrow {

namespace {

// Far beyond any table a script lays out, and small enough that no single
// field ("%999999999d") can take more than a little memory.
constexpr int64_t kMaxField = 100000;

struct Directive {
    bool left = false;       // '-': pad on the right
    bool plus = false;       // '+': a sign on non-negative numbers too
    bool space = false;      // ' ': a space where a + would go
    bool zero = false;       // '0': pad numbers with zeros after the sign
    bool alternate = false;  // '#': 0x, 0b or a leading 0; a point in floats
    int64_t width = 0;
    int64_t precision = -1;  // -1 when none was given
    char letter = 0;
    std::string_view text;  // the whole conversion, for messages: "%-5d"
};

[[noreturn]] void formatFail(const std::string& message) { nativeFail("format: " + message); }

// Places the sign or prefix and the body in a field of the directive's width.
std::string padded(const Directive& directive, const std::string& prefix, const std::string& body,
                   bool zeroPad) {
    const auto length = static_cast<int64_t>(prefix.size() + body.size());
    if (directive.width <= length) return prefix + body;
    const std::string fill(static_cast<std::size_t>(directive.width - length), zeroPad ? '0' : ' ');
    if (directive.left) return prefix + body + std::string(fill.size(), ' ');
    return zeroPad ? prefix + fill + body : fill + prefix + body;
}

std::string integerField(const Directive& directive, int64_t value) {
    unsigned base = 10;
    if (directive.letter == 'x' || directive.letter == 'X') base = 16;
    if (directive.letter == 'o') base = 8;
    if (directive.letter == 'b') base = 2;
    const uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    // A precision is the least number of digits; zero with precision 0 has none.
    std::string digits = directive.precision == 0 && magnitude == 0
                             ? std::string()
                             : digitsInBase(magnitude, base, directive.letter == 'X');
    if (directive.precision > static_cast<int64_t>(digits.size())) {
        digits.insert(0, static_cast<std::size_t>(directive.precision) - digits.size(), '0');
    }
    std::string prefix;
    if (value < 0) {
        prefix = "-";
    } else if (base == 10 && (directive.plus || directive.space)) {
        prefix = directive.plus ? "+" : " ";
    }
    if (directive.alternate) {
        if (base == 8 && (digits.empty() || digits[0] != '0')) digits.insert(0, "0");
        if (base == 16 && magnitude != 0) prefix += directive.letter == 'X' ? "0X" : "0x";
        if (base == 2 && magnitude != 0) prefix += "0b";
    }
    // As in C, a precision turns zero padding off for integers.
    return padded(directive, prefix, digits, directive.zero && directive.precision < 0);
}

std::string toChars(double value, std::chars_format style, int64_t precision) {
    // A fixed-point double has at most 309 digits before the point.
    std::string text(static_cast<std::size_t>(precision) + 400, '\0');
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value, style,
                                      static_cast<int>(precision));
    text.resize(static_cast<std::size_t>(result.ptr - text.data()));
    return text;
}

// The digits of a finite, non-negative value.
std::string floatBody(const Directive& directive, double value) {
    const int64_t precision = directive.precision < 0 ? 6 : directive.precision;
    std::string text;
    if (directive.letter == 'f') {
        text = toChars(value, std::chars_format::fixed, precision);
    } else if (directive.letter == 'e') {
        text = toChars(value, std::chars_format::scientific, precision);
    } else {
        // %g: scientific when the exponent (of the value rounded to P
        // significant digits) is below -4 or at least P, else fixed with P
        // significant digits; then trailing zeros go, unless # keeps them.
        const int64_t significant = precision == 0 ? 1 : precision;
        text = toChars(value, std::chars_format::scientific, significant - 1);
        const int64_t exponent = std::stoi(text.substr(text.find('e') + 1));
        if (exponent >= -4 && exponent < significant) {
            text = toChars(value, std::chars_format::fixed, significant - 1 - exponent);
        }
        if (!directive.alternate) {
            const std::size_t exponentAt = std::min(text.find('e'), text.size());
            std::size_t end = exponentAt;
            if (text.find('.') < exponentAt) {
                while (text[end - 1] == '0') --end;
                if (text[end - 1] == '.') --end;
            }
            text.erase(end, exponentAt - end);
        }
    }
    // # asks for a decimal point even when no digit follows it.
    if (directive.alternate && text.find('.') == std::string::npos) {
        text.insert(std::min(text.find('e'), text.size()), ".");
    }
    return text;
}

std::string floatField(const Directive& directive, double value) {
    std::string prefix;
    if (std::signbit(value)) {
        prefix = "-";
    } else if (directive.plus || directive.space) {
        prefix = directive.plus ? "+" : " ";
    }
    const double magnitude = std::fabs(value);
    if (!std::isfinite(magnitude)) {
        return padded(directive, prefix, std::isnan(magnitude) ? "nan" : "inf", false);
    }
    return padded(directive, prefix, floatBody(directive, magnitude), directive.zero);
}

std::string textField(const Directive& directive, std::string text) {
    if (directive.precision >= 0 && directive.precision < static_cast<int64_t>(text.size())) {
        text.resize(static_cast<std::size_t>(directive.precision));
    }
    return padded(directive, "", text, false);
}

class Formatter {
public:
    Formatter(std::string_view templateText, Args args) : template_(templateText), args_(args) {}

    std::string run() {
        std::size_t at = 0;
        while (at < template_.size()) {
            const std::size_t percent = template_.find('%', at);
            out_.append(template_.substr(at, percent - at));
            if (percent == std::string_view::npos) break;
            if (percent + 1 < template_.size() && template_[percent + 1] == '%') {
                out_ += '%';
                at = percent + 2;
                continue;
            }
            at = percent;
            const Directive directive = parseDirective(at);
            append(convert(directive));
        }
        if (next_ < args_.size()) {
            formatFail("too many arguments (" + std::to_string(args_.size() - 1) + " given, " +
                       std::to_string(next_ - 1) + " used)");
        }
        return std::move(out_);
    }

private:
    // The conversion that starts at the % at `at`; `at` moves past it.
    Directive parseDirective(std::size_t& at) {
        Directive directive;
        const std::size_t start = at++;
        for (; at < template_.size(); ++at) {
            const char c = template_[at];
            if (c == '-') directive.left = true;
            else if (c == '+') directive.plus = true;
            else if (c == ' ') directive.space = true;
            else if (c == '0') directive.zero = true;
            else if (c == '#') directive.alternate = true;
            else break;
        }
        const bool starWidth = readField(at, directive.width);
        bool starPrecision = false;
        if (at < template_.size() && template_[at] == '.') {
            ++at;
            directive.precision = 0;
            starPrecision = readField(at, directive.precision);
        }
        if (at >= template_.size()) {
            formatFail("incomplete conversion '" + std::string(template_.substr(start)) +
                       "' at the end of the template");
        }
        directive.letter = template_[at++];
        directive.text = template_.substr(start, at - start);
        // Star arguments are taken in order, width first, once the whole
        // conversion is known, so that messages can show it. As in C, a
        // negative width from one means '-' and its magnitude, a negative
        // precision none.
        auto width = static_cast<uint64_t>(directive.width);
        if (starWidth) {
            const int64_t value = integerArgument(directive, starName(directive));
            directive.left = directive.left || value < 0;
            width = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        }
        directive.width = checkedField(directive, "width", width);
        if (starPrecision) {
            const int64_t value = integerArgument(directive, starName(directive));
            directive.precision = value < 0 ? -1 : value;
        }
        if (directive.precision > 0) {
            const auto precision = static_cast<uint64_t>(directive.precision);
            directive.precision = checkedField(directive, "precision", precision);
        }
        return directive;
    }

    // Reads digits into `value`, which stops growing past kMaxField so that
    // no count of digits can overflow it; true for a '*' instead.
    bool readField(std::size_t& at, int64_t& value) {
        if (at < template_.size() && template_[at] == '*') {
            ++at;
            return true;
        }
        for (; at < template_.size() && template_[at] >= '0' && template_[at] <= '9'; ++at) {
            value = std::min<int64_t>(value * 10 + (template_[at] - '0'), kMaxField + 1);
        }
        return false;
    }

    static std::string starName(const Directive& directive) {
        return "'*' in '" + std::string(directive.text) + "'";
    }

    int64_t checkedField(const Directive& directive, const char* what, uint64_t value) {
        if (value > static_cast<uint64_t>(kMaxField)) {
            formatFail(std::string(what) + " too large in '" + std::string(directive.text) +
                       "' (the most is " + std::to_string(kMaxField) + ")");
        }
        return static_cast<int64_t>(value);
    }

    const Value& nextArgument(const Directive& directive) {
        if (next_ >= args_.size()) {
            formatFail("missing argument for '" + std::string(directive.text) + "'");
        }
        return args_[next_++];
    }

    // An integer, or a float holding a whole number in the integer range.
    int64_t integerArgument(const Directive& directive, const std::string& what) {
        const Value& v = nextArgument(directive);
        if (v.isInteger()) return v.asInteger();
        if (v.isFloat()) {
            const double d = v.asFloat();
            constexpr double kLimit = 9223372036854775808.0;  // 2^63
            if (std::trunc(d) == d && d >= -kLimit && d < kLimit) return static_cast<int64_t>(d);
            formatFail(what + " expects an integer, got " + toString(v));
        }
        formatFail(what + " expects an integer, got " + typeName(v));
    }

    std::string convert(const Directive& directive) {
        switch (directive.letter) {
            case 'd':
            case 'i':
            case 'x':
            case 'X':
            case 'o':
            case 'b': {
                return integerField(directive, integerArgument(directive, {'%', directive.letter}));
            }
            case 'f':
            case 'e':
            case 'g': {
                const Value& v = nextArgument(directive);
                if (!v.isNumber()) {
                    formatFail(std::string("%") + directive.letter + " expects a number, got " +
                               typeName(v));
                }
                return floatField(directive, asDouble(v));
            }
            case 's':
                return textField(directive, toString(nextArgument(directive)));
            case 'q':
                return textField(directive, toRepr(nextArgument(directive)));
            default:
                formatFail("unknown conversion '" + std::string(directive.text) + "'");
        }
    }

    void append(const std::string& field) {
        checkResultSize("format", static_cast<UInt128>(out_.size()) + field.size(), 1);
        out_ += field;
    }

    std::string_view template_;
    Args args_;
    std::size_t next_ = 1;  // the next argument; 0 is the template
    std::string out_;
};

}  // namespace

Value nativeFormat(Caller&, Args args) {
    if (!args[0].isString()) {
        nativeFail(std::string("format: template must be a string, got ") + typeName(args[0]));
    }
    return Value::string(Formatter(args[0].asString(), args).run());
}

}  // namespace ferrow
