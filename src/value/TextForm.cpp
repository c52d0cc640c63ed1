#include "value/TextForm.h"

#include <charconv>
#include <cmath>
#include <unordered_set>
#include <vector>

#include "value/Errors.h"
#include "value/Function.h"
#include "value/MemoryBudget.h"

namespace ferrow {

namespace {

// The text of any value that is not a list or map.
void appendScalar(std::string& out, const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Nil: out += "nil"; break;
        case Value::Kind::Bool: out += v.asBool() ? "true" : "false"; break;
        case Value::Kind::Integer: out += std::to_string(v.asInteger()); break;
        case Value::Kind::Float: out += formatNumber(v.asFloat()); break;
        case Value::Kind::String: out += v.asString(); break;
        case Value::Kind::Function: {
            const FunctionObj* f = v.asTreeFunction();
            out += "<function ";
            if (f) out += f->name;
            out += '>';
            break;
        }
        case Value::Kind::Native: {
            const NativeObj* n = v.asNative();
            out += "<native function ";
            if (n) out += n->name;
            out += '>';
            break;
        }
        case Value::Kind::Closure: {
            const VMClosure* c = v.asClosure();
            out += "<function ";
            if (c && c->name) out += *c->name;
            out += '>';
            break;
        }
        default: out += "<value>"; break;  // valueless after a failed assignment
    }
}

// Builds the text of a list or map without native recursion: an explicit
// stack of open containers replaces the call stack, so a list nested a
// hundred thousand levels deep prints completely, and the result never
// depends on how much native stack the calling engine has left.
//
// A container that is already open on the current path (a list or map that
// contains itself, directly or through others) prints as "[...]" or "{...}".
// A container merely shared by two siblings is not on the path and prints in
// full both times.
class ContainerPrinter {
public:
    explicit ContainerPrinter(std::string& out) : out_(out) {}

    void print(const Value& root) {
        element(root);
        // A list holding the same list twice, nested forty times, prints
        // 2^40 copies: the text is refused once it outgrows the budget.
        const uint64_t budget = resultMemoryBudget();
        while (!stack_.empty()) {
            if (out_.size() > budget) throw RuntimeError("value too large to convert to text", 0, 0);
            Frame& top = stack_.back();
            if (top.list) {
                stepList(top);
            } else {
                stepMap(top);
            }
        }
    }

private:
    struct Frame {
        const ListData* list = nullptr;
        const MapData* map = nullptr;
        size_t index = 0;
        size_t written = 0;
        bool atValue = false;  // maps: the key of entry `index` is written
    };

    // Each step may push a frame, which invalidates `top`; so every use of
    // `top` comes before the call to element().
    void stepList(Frame& top) {
        const ListData& list = *top.list;
        if (top.index == list.size()) {
            close(']', &list);
            return;
        }
        if (top.index > 0) out_ += ", ";
        element(list[top.index++]);
    }

    // `index` walks the map's slots, passing over deleted ones; `written`
    // counts the entries shown so far.
    void stepMap(Frame& top) {
        const MapData& map = *top.map;
        if (top.atValue) {
            out_ += ": ";
            top.atValue = false;
            element(map.slot(top.index++).value);
            return;
        }
        while (top.index < map.slotCount() && map.slot(top.index).key.isNil()) ++top.index;
        if (top.index == map.slotCount()) {
            close('}', &map);
            return;
        }
        if (top.written++ > 0) out_ += ", ";
        top.atValue = true;
        element(map.slot(top.index).key);
    }

    // Inside containers strings are quoted at every level.
    void element(const Value& v) {
        if (v.isList()) {
            open(v.asList(), nullptr);
        } else if (v.isMap()) {
            open(nullptr, v.asMap());
        } else if (v.isString()) {
            out_ += quoteString(v.asString());
        } else {
            appendScalar(out_, v);
        }
    }

    void open(const ListData* list, const MapData* map) {
        const void* id = list ? static_cast<const void*>(list) : static_cast<const void*>(map);
        if (!id) {
            out_ += list ? "[]" : "{}";
            return;
        }
        if (onPath_.count(id)) {
            out_ += list ? "[...]" : "{...}";
            return;
        }
        onPath_.insert(id);
        out_ += list ? '[' : '{';
        stack_.push_back(Frame{list, map, 0, 0, false});
    }

    void close(char bracket, const void* id) {
        out_ += bracket;
        onPath_.erase(id);
        stack_.pop_back();
    }

    std::string& out_;
    std::vector<Frame> stack_;
    std::unordered_set<const void*> onPath_;
};

}  // namespace

std::string toString(const Value& v) {
    std::string out;
    if (v.isList() || v.isMap()) {
        ContainerPrinter(out).print(v);
    } else {
        appendScalar(out, v);
    }
    return out;
}

std::string toRepr(const Value& v) {
    if (v.isString()) return quoteString(v.asString());
    return toString(v);
}

std::string quoteString(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    for (char c : s) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default: out += c; break;
        }
    }
    out += '"';
    return out;
}

std::string formatNumber(double d) {
    if (std::isnan(d)) return "nan";  // whatever its sign or payload
    // The shortest round-trip form, fixed or scientific, whichever is shorter.
    // 32 bytes hold the longest such text ("-2.2250738585072014e-308" is 24).
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
    std::string text(buffer, result.ptr);
    // A float never looks like an integer.
    if (text.find_first_of(".eE") == std::string::npos && text.find("inf") == std::string::npos) {
        text += ".0";
    }
    return text;
}

}  // namespace ferrow
