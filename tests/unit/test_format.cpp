// format against the C library's printf, over every combination of flags,
// width and precision for the conversions both know. (The C formats here
// are the test's own constants; a script's template never reaches printf.)

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "interp/Interpreter.h"
#include "natives/NativeFunctions.h"

using namespace ferrow;

namespace {

std::string viaFormat(Interpreter& engine, const std::string& pattern, Value argument) {
    std::vector<Value> args{Value::string(pattern), std::move(argument)};
    return std::string(nativeFormat(engine, Args(args)).asString());
}

TEST(Format, AgreesWithPrintf) {
    Interpreter engine;
    const char* const flags[] = {"", "-", "+", " ", "0", "#", "-0", "+0", "#0", "+ ", "-#"};
    const char* const fields[] = {"", "8", ".0", ".3", "12.5", "1.1"};
    const int64_t integers[] = {0, 1, 42, 255, -1, INT64_MAX, INT64_MIN};
    const double floats[] = {0.0, -0.0, 0.5, 2.5, 123.456, 1e-5, 9.9999e-5, 999999.5, 1e20,
                             -3.75, 1e300, 5e-324, std::numeric_limits<double>::infinity(), NAN};
    char expected[512];
    for (const char* flag : flags) {
        for (const char* field : fields) {
            const std::string head = std::string("%") + flag + field;
            for (char conversion : std::string("dixXo")) {
                // C leaves # of d undefined and prints x and o of negative
                // numbers unsigned.
                const bool isDecimal = conversion == 'd' || conversion == 'i';
                if (isDecimal && std::string(flag).find('#') != std::string::npos) continue;
                for (int64_t value : integers) {
                    if (value < 0 && !isDecimal) continue;
                    const std::string c = head + "ll" + conversion;
                    const auto cValue = static_cast<long long>(value);
                    std::snprintf(expected, sizeof expected, c.c_str(), cValue);
                    EXPECT_EQ(viaFormat(engine, head + conversion, Value::integer(value)), expected)
                        << head + conversion << " of " << value;
                }
            }
            for (char conversion : std::string("feg")) {
                for (double value : floats) {
                    const std::string pattern = head + conversion;
                    // glibc drops the zeros that # keeps when rounding
                    // carries into the next power of ten (1.e+06 for
                    // 999999.5); checked on its own below.
                    const bool alternate = std::string(flag).find('#') != std::string::npos;
                    if (value == 999999.5 && conversion == 'g' && alternate) continue;
                    std::snprintf(expected, sizeof expected, pattern.c_str(), value);
                    EXPECT_EQ(viaFormat(engine, pattern, Value::number(value)), expected)
                        << pattern << " of " << value;
                }
            }
        }
    }
    EXPECT_EQ(viaFormat(engine, "%#g", Value::number(999999.5)), "1.00000e+06");
}

}  // namespace
