// The string natives. Strings are bytes: case mapping touches only the ASCII
// letters, and indexing, splitting and searching count bytes.

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>

#include "natives/NativeFunctions.h"
#include "natives/NativeSupport.h"
#include "natives/Registry.h"
#include "value/TextForm.h"

namespace ferrow {

namespace {

char toUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char toLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// White space as the classic locale knows it: what separates words in split.
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// trim removes fewer bytes than split separates on: vertical tab and form feed stay.
bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A string result of `length` bytes must fit the budget and std::string.
void checkStringSize(const char* nativeName, UInt128 length) {
    checkResultSize(nativeName, length, 1);
    if (length > std::string().max_size()) nativeFail(std::string(nativeName) + ": result too large");
}

Value splitWords(std::string_view s) {
    size_t count = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (!isSpace(s[i]) && (i == 0 || isSpace(s[i - 1]))) ++count;
    }
    checkStringListSize("split", count, s.size());
    ListData words;
    words.reserve(count);
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && isSpace(s[i])) ++i;
        size_t start = i;
        while (i < s.size() && !isSpace(s[i])) ++i;
        if (i > start) words.push_back(Value::string(s.substr(start, i - start)));
    }
    return Value::newList(std::move(words));
}

Value splitAt(std::string_view s, std::string_view separator) {
    size_t count = 1;
    for (size_t at = s.find(separator); at != std::string::npos;
         at = s.find(separator, at + separator.size())) {
        ++count;
    }
    checkStringListSize("split", count, s.size());
    ListData pieces;
    pieces.reserve(count);
    size_t start = 0;
    for (size_t at = s.find(separator); at != std::string::npos;
         at = s.find(separator, start)) {
        pieces.push_back(Value::string(s.substr(start, at - start)));
        start = at + separator.size();
    }
    pieces.push_back(Value::string(s.substr(start)));
    return Value::newList(std::move(pieces));
}

// The integer's magnitude is taken as unsigned so that the smallest integer,
// whose negation does not fit, is written correctly too.
std::string formatInBase(int64_t v, unsigned base, const char* prefix) {
    const uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    return (v < 0 ? "-" : "") + std::string(prefix) + digitsInBase(magnitude, base);
}

}  // namespace

Value nativeUpper(Caller&, Args args) {
    std::string text = toString(args[0]);
    for (char& c : text) c = toUpperAscii(c);
    return Value::string(std::move(text));
}

Value nativeLower(Caller&, Args args) {
    std::string text = toString(args[0]);
    for (char& c : text) c = toLowerAscii(c);
    return Value::string(std::move(text));
}

Value nativeCapitalize(Caller&, Args args) {
    std::string text = toString(args[0]);
    if (!text.empty()) text[0] = toUpperAscii(text[0]);
    return Value::string(std::move(text));
}

Value nativeTrim(Caller&, Args args) {
    std::string text = toString(args[0]);
    size_t first = 0;
    while (first < text.size() && isTrimmed(text[first])) ++first;
    size_t last = text.size();
    while (last > first && isTrimmed(text[last - 1])) --last;
    return Value::string(text.substr(first, last - first));
}

Value nativeStartsWith(Caller&, Args args) {
    std::string text = toString(args[0]);
    std::string prefix = toString(args[1]);
    if (prefix.size() > text.size()) return Value::boolean(false);
    return Value::boolean(text.compare(0, prefix.size(), prefix) == 0);
}

Value nativeEndsWith(Caller&, Args args) {
    std::string text = toString(args[0]);
    std::string suffix = toString(args[1]);
    if (suffix.size() > text.size()) return Value::boolean(false);
    return Value::boolean(text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0);
}

// A missing, non-string or empty separator splits on runs of white space.
Value nativeSplit(Caller&, Args args) {
    if (!args[0].isString()) nativeFail("split: expected a string, got " + std::string(typeName(args[0])));
    const std::string_view s = args[0].asString();
    if (args.size() < 2 || !args[1].isString() || args[1].asString().empty()) return splitWords(s);
    return splitAt(s, args[1].asString());
}

// The result's size is known before it is built, so an oversized join fails
// without allocating it.
Value nativeJoin(Caller&, Args args) {
    if (!args[0].isList()) {
        nativeFail("join: first argument must be a list, got " + std::string(typeName(args[0])));
    }
    std::string separator = args.size() == 2 ? toString(args[1]) : std::string();
    const ListData& list = *args[0].asList();
    std::vector<std::string> texts;
    texts.reserve(list.size());
    UInt128 length = 0;
    for (const Value& element : list) {
        texts.push_back(toString(element));
        length += texts.back().size();
    }
    if (!texts.empty()) length += static_cast<UInt128>(texts.size() - 1) * separator.size();
    checkStringSize("join", length);
    std::string result;
    result.reserve(static_cast<size_t>(length));
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) result += separator;
        result += texts[i];
    }
    return Value::string(std::move(result));
}

// Global and left to right; the inserted text is never searched again.
Value nativeReplace(Caller&, Args args) {
    std::string text = toString(args[0]);
    std::string old = toString(args[1]);
    std::string replacement = toString(args[2]);
    if (old.empty()) return Value::string(std::move(text));
    UInt128 occurrences = 0;
    for (size_t at = text.find(old); at != std::string::npos; at = text.find(old, at + old.size())) {
        ++occurrences;
    }
    if (occurrences == 0) return Value::string(std::move(text));
    UInt128 length = text.size() - occurrences * old.size() + occurrences * replacement.size();
    checkStringSize("replace", length);
    std::string result;
    result.reserve(static_cast<size_t>(length));
    size_t start = 0;
    for (size_t at = text.find(old); at != std::string::npos; at = text.find(old, start)) {
        result.append(text, start, at - start);
        result += replacement;
        start = at + old.size();
    }
    result.append(text, start, std::string::npos);
    return Value::string(std::move(result));
}

Value nativeChars(Caller&, Args args) {
    if (!args[0].isString()) nativeFail("chars: expected a string");
    const std::string_view s = args[0].asString();
    checkStringListSize("chars", s.size(), s.size());
    ListData characters;
    characters.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) characters.push_back(Value::string(s.substr(i, 1)));
    return Value::newList(std::move(characters));
}

Value nativeChar(Caller&, Args args) {
    int64_t code = expectInteger(args[0], "char");
    if (static_cast<uint64_t>(code) >= 256) nativeFail("char: code must be between 0 and 255");
    return Value::string(std::string(1, static_cast<char>(code)));
}

Value nativeOrd(Caller&, Args args) {
    if (!args[0].isString() || args[0].asString().empty()) nativeFail("ord: expected a non-empty string");
    return Value::integer(static_cast<unsigned char>(args[0].asString()[0]));
}

// The count is checked first, so a bad count fails whatever the first argument is.
Value nativeRepeat(Caller&, Args args) {
    int64_t count = expectInteger(args[1], "repeat");
    if (count < 0) count = 0;
    const Value& x = args[0];
    if (x.isString()) {
        const std::string_view s = x.asString();
        if (s.empty() || count == 0) return Value::string("");
        checkStringSize("repeat", static_cast<UInt128>(s.size()) * static_cast<uint64_t>(count));
        std::string result;
        result.reserve(s.size() * static_cast<size_t>(count));
        for (int64_t i = 0; i < count; ++i) result += s;
        return Value::string(std::move(result));
    }
    if (x.isList()) {
        const ListData& list = *x.asList();
        if (list.empty() || count == 0) return Value::newList();
        // Strings are copied with their bytes; lists, maps and functions are shared.
        UInt128 roundBytes = 0;
        for (const Value& element : list) {
            roundBytes += sizeof(Value) + (element.isString() ? element.asString().size() : 0);
        }
        checkResultSize("repeat", roundBytes * static_cast<uint64_t>(count), 1);
        ListData result;
        result.reserve(list.size() * static_cast<size_t>(count));
        for (int64_t i = 0; i < count; ++i) result.insert(result.end(), list.begin(), list.end());
        return Value::newList(std::move(result));
    }
    nativeFail("repeat: expected a string or list");
}

Value nativeHex(Caller&, Args args) {
    return Value::string(formatInBase(expectInteger(args[0], "hex"), 16, "0x"));
}

Value nativeBin(Caller&, Args args) {
    return Value::string(formatInBase(expectInteger(args[0], "bin"), 2, "0b"));
}

Value nativeOct(Caller&, Args args) {
    return Value::string(formatInBase(expectInteger(args[0], "oct"), 8, "0o"));
}

// strtoll's rules: leading white space, a sign, a "0x" prefix in base 16 or 0,
// base 0 choosing from the prefix. White space may also follow the digits;
// anything else there, an out-of-range value or a base strtoll rejects fails.
Value nativeParseInt(Caller&, Args args) {
    if (!args[0].isString()) nativeFail("parse_int: first argument must be a string");
    const std::string s(args[0].asString());
    int32_t base = 10;
    if (args.size() == 2) {
        expectNumber(args[1], "parse_int");
        base = truncateToInt32(args[1]);
    }
    auto invalid = [&s]() { nativeFail("parse_int: invalid integer \"" + s + "\""); };
    if (base != 0 && (base < 2 || base > 36)) invalid();
    const char* begin = s.c_str();
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(begin, &end, base);
    if (end == begin || errno == ERANGE) invalid();
    // An embedded zero byte stops strtoll early and is not white space, so
    // comparing against the full length rejects it too.
    const char* stop = begin + s.size();
    while (end < stop && isSpace(*end)) ++end;
    if (end != stop) invalid();
    return Value::integer(static_cast<int64_t>(value));
}

}  // namespace ferrow
