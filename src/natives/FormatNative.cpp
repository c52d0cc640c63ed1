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

struct Spec {
    bool left = false;       // '-': pad on the right
    bool plus = false;       // '+': a sign on non-negative numbers too
    bool space = false;      // ' ': a space where a + would go
    bool zero = false;       // '0': pad numbers with zeros after the sign
    bool alternate = false;  // '#': 0x, 0b or a leading 0; a point in floats
    int64_t width = 0;
    int64_t precision = -1;  // -1 when none was given
    char conversion = 0;
    std::string_view text;  // the whole conversion, for messages: "%-5d"
};

[[noreturn]] void formatFail(const std::string& message) { nativeFail("format: " + message); }

// Places the sign or prefix and the body in a field of the spec's width.
std::string padded(const Spec& spec, const std::string& prefix, const std::string& body,
                   bool zeroPad) {
    const auto length = static_cast<int64_t>(prefix.size() + body.size());
    if (spec.width <= length) return prefix + body;
    const std::string fill(static_cast<std::size_t>(spec.width - length), zeroPad ? '0' : ' ');
    if (spec.left) return prefix + body + std::string(fill.size(), ' ');
    return zeroPad ? prefix + fill + body : fill + prefix + body;
}

std::string integerField(const Spec& spec, int64_t value) {
    unsigned base = 10;
    if (spec.conversion == 'x' || spec.conversion == 'X') base = 16;
    if (spec.conversion == 'o') base = 8;
    if (spec.conversion == 'b') base = 2;
    const uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    // A precision is the least number of digits; zero with precision 0 has none.
    std::string digits = spec.precision == 0 && magnitude == 0
                             ? std::string()
                             : digitsInBase(magnitude, base, spec.conversion == 'X');
    if (spec.precision > static_cast<int64_t>(digits.size())) {
        digits.insert(0, static_cast<std::size_t>(spec.precision) - digits.size(), '0');
    }
    std::string prefix;
    if (value < 0) {
        prefix = "-";
    } else if (base == 10 && (spec.plus || spec.space)) {
        prefix = spec.plus ? "+" : " ";
    }
    if (spec.alternate) {
        if (base == 8 && (digits.empty() || digits[0] != '0')) digits.insert(0, "0");
        if (base == 16 && magnitude != 0) prefix += spec.conversion == 'X' ? "0X" : "0x";
        if (base == 2 && magnitude != 0) prefix += "0b";
    }
    // As in C, a precision turns zero padding off for integers.
    return padded(spec, prefix, digits, spec.zero && spec.precision < 0);
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
std::string floatBody(const Spec& spec, double value) {
    const int64_t precision = spec.precision < 0 ? 6 : spec.precision;
    std::string text;
    if (spec.conversion == 'f') {
        text = toChars(value, std::chars_format::fixed, precision);
    } else if (spec.conversion == 'e') {
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
        if (!spec.alternate) {
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
    if (spec.alternate && text.find('.') == std::string::npos) {
        text.insert(std::min(text.find('e'), text.size()), ".");
    }
    return text;
}

std::string floatField(const Spec& spec, double value) {
    std::string prefix;
    if (std::signbit(value)) {
        prefix = "-";
    } else if (spec.plus || spec.space) {
        prefix = spec.plus ? "+" : " ";
    }
    const double magnitude = std::fabs(value);
    if (!std::isfinite(magnitude)) {
        return padded(spec, prefix, std::isnan(magnitude) ? "nan" : "inf", false);
    }
    return padded(spec, prefix, floatBody(spec, magnitude), spec.zero);
}

std::string textField(const Spec& spec, std::string text) {
    if (spec.precision >= 0 && spec.precision < static_cast<int64_t>(text.size())) {
        text.resize(static_cast<std::size_t>(spec.precision));
    }
    return padded(spec, "", text, false);
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
            const Spec spec = parseSpec(at);
            append(convert(spec));
        }
        if (next_ < args_.size()) {
            formatFail("too many arguments (" + std::to_string(args_.size() - 1) + " given, " +
                       std::to_string(next_ - 1) + " used)");
        }
        return std::move(out_);
    }

private:
    // The conversion that starts at the % at `at`; `at` moves past it.
    Spec parseSpec(std::size_t& at) {
        Spec spec;
        const std::size_t start = at++;
        for (; at < template_.size(); ++at) {
            const char c = template_[at];
            if (c == '-') spec.left = true;
            else if (c == '+') spec.plus = true;
            else if (c == ' ') spec.space = true;
            else if (c == '0') spec.zero = true;
            else if (c == '#') spec.alternate = true;
            else break;
        }
        const bool starWidth = readField(at, spec.width);
        bool starPrecision = false;
        if (at < template_.size() && template_[at] == '.') {
            ++at;
            spec.precision = 0;
            starPrecision = readField(at, spec.precision);
        }
        if (at >= template_.size()) {
            formatFail("incomplete conversion '" + std::string(template_.substr(start)) +
                       "' at the end of the template");
        }
        spec.conversion = template_[at++];
        spec.text = template_.substr(start, at - start);
        // Star arguments are taken in order, width first, once the whole
        // conversion is known, so that messages can show it.
        if (starWidth) {
            const int64_t width = integerArgument(spec, starName(spec));
            spec.left = spec.left || width < 0;
            spec.width = checkedField(spec, "width",
                                      width < 0 ? 0 - static_cast<uint64_t>(width)
                                                : static_cast<uint64_t>(width));
        } else {
            spec.width = checkedField(spec, "width", static_cast<uint64_t>(spec.width));
        }
        if (starPrecision) {
            // A negative precision counts as none, as in C.
            const int64_t precision = integerArgument(spec, starName(spec));
            if (precision < 0) {
                spec.precision = -1;
            } else {
                spec.precision = checkedField(spec, "precision", static_cast<uint64_t>(precision));
            }
        } else if (spec.precision > 0) {
            spec.precision = checkedField(spec, "precision", static_cast<uint64_t>(spec.precision));
        }
        return spec;
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

    static std::string starName(const Spec& spec) {
        return "'*' in '" + std::string(spec.text) + "'";
    }

    int64_t checkedField(const Spec& spec, const char* what, uint64_t value) {
        if (value > static_cast<uint64_t>(kMaxField)) {
            formatFail(std::string(what) + " too large in '" + std::string(spec.text) +
                       "' (the most is " + std::to_string(kMaxField) + ")");
        }
        return static_cast<int64_t>(value);
    }

    const Value& nextArgument(const Spec& spec) {
        if (next_ >= args_.size()) {
            formatFail("missing argument for '" + std::string(spec.text) + "'");
        }
        return args_[next_++];
    }

    // An integer, or a float holding a whole number in the integer range.
    int64_t integerArgument(const Spec& spec, const std::string& what) {
        const Value& v = nextArgument(spec);
        if (v.isInteger()) return v.asInteger();
        if (v.isFloat()) {
            const double d = v.asFloat();
            constexpr double kLimit = 9223372036854775808.0;  // 2^63
            if (std::trunc(d) == d && d >= -kLimit && d < kLimit) return static_cast<int64_t>(d);
            formatFail(what + " expects an integer, got " + toString(v));
        }
        formatFail(what + " expects an integer, got " + typeName(v));
    }

    std::string convert(const Spec& spec) {
        switch (spec.conversion) {
            case 'd':
            case 'i':
            case 'x':
            case 'X':
            case 'o':
            case 'b': {
                return integerField(spec, integerArgument(spec, {'%', spec.conversion}));
            }
            case 'f':
            case 'e':
            case 'g': {
                const Value& v = nextArgument(spec);
                if (!v.isNumber()) {
                    formatFail(std::string("%") + spec.conversion + " expects a number, got " +
                               typeName(v));
                }
                return floatField(spec, asDouble(v));
            }
            case 's':
                return textField(spec, toString(nextArgument(spec)));
            case 'q':
                return textField(spec, toRepr(nextArgument(spec)));
            default:
                formatFail("unknown conversion '" + std::string(spec.text) + "'");
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
