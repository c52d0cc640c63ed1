// The list and map natives. `push`, `pop`, `insert`, `remove_at` and `delete`
// change their argument in place, after every check has passed; the others
// build new lists and leave their arguments alone.

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "natives/NativeFunctions.h"
#include "natives/NativeSupport.h"
#include "natives/Registry.h"
#include "value/TextForm.h"

namespace ferrow {

namespace {

std::string typeOf(const Value& v) { return typeName(v); }

Value pair(Value a, Value b) {
    ListData elements;
    elements.reserve(2);
    elements.push_back(std::move(a));
    elements.push_back(std::move(b));
    return Value::newList(std::move(elements));
}

// Integer ranges are computed exactly; a double counter would stall or skip
// values beyond 2^53.
Value integerRange(int64_t start, int64_t end, int64_t step) {
    if (step == 0) nativeFail("range: step cannot be 0");
    UInt128 count = 0;
    if (step > 0 && start < end) {
        count = static_cast<UInt128>((static_cast<Int128>(end) - start + step - 1) / step);
    } else if (step < 0 && start > end) {
        count = static_cast<UInt128>((static_cast<Int128>(start) - end - step - 1) / -static_cast<Int128>(step));
    }
    checkResultSize("range", count, sizeof(Value));
    ListData elements;
    elements.reserve(static_cast<size_t>(count));
    for (UInt128 i = 0; i < count; ++i) {
        elements.push_back(Value::integer(static_cast<int64_t>(start + static_cast<Int128>(i) * step)));
    }
    return Value::newList(std::move(elements));
}

// Float ranges advance a double counter, so the element count can drift by one
// from the exact quotient; the quotient is only the size check's estimate.
Value floatRange(double start, double end, double step) {
    if (step == 0) nativeFail("range: step cannot be 0");
    bool ascending = step > 0;
    bool descending = step < 0;  // both false for a NaN step: the list is empty
    double estimate = 0;
    if ((ascending && start < end) || (descending && start > end)) {
        estimate = std::ceil((end - start) / step);
    }
    const double maxCount = static_cast<double>(resultMemoryBudget() / sizeof(Value));
    if (!(estimate <= maxCount)) nativeFail("range: result too large");
    ListData elements;
    elements.reserve(static_cast<size_t>(estimate));
    double x = start;
    while ((ascending && x < end) || (descending && x > end)) {
        if (static_cast<double>(elements.size()) >= maxCount) nativeFail("range: result too large");
        elements.push_back(Value::number(x));
        double next = x + step;
        // A step below the spacing of doubles near x would never reach the end.
        if (next == x) nativeFail("range: step too small to advance from " + formatNumber(x));
        x = next;
    }
    return Value::newList(std::move(elements));
}

int64_t sliceBound(const Args args, size_t index, int64_t length, int64_t absent,
                   const char* which) {
    if (index >= args.size() || args[index].isNil()) return absent;
    const Value& bound = args[index];
    if (!bound.isInteger()) {
        nativeFail(std::string("slice: ") + which + " must be an integer or nil, got " +
                   typeOf(bound));
    }
    int64_t i = bound.asInteger();
    if (i < 0) i += length;
    if (i < 0) return 0;
    return i > length ? length : i;
}

bool defaultLess(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) return asDouble(a) < asDouble(b);
    if (a.isString() && b.isString()) return a.asString() < b.asString();
    nativeFail("sort: cannot compare " + typeOf(a) + " and " + typeOf(b));
}

// A stable top-down merge sort. Each merge copies the left run into a buffer
// of about half the list and merges it with the right run in place; an element
// of the right run is taken first only when it is strictly less than the
// current left element, which keeps equal elements in order. Whatever the
// comparison answers, every index stays inside its run, so an inconsistent
// comparator can scramble the order but never the bounds or the termination.
template <typename Less>
class MergeSorter {
public:
    MergeSorter(ListData& elements, Less less)
        : elements_(elements), less_(std::move(less)), buffer_(elements.size() / 2, Value()) {}

    void sort() { sortRange(0, elements_.size()); }

private:
    void sortRange(size_t low, size_t high) {
        if (high - low < 2) return;
        size_t mid = low + (high - low) / 2;
        sortRange(low, mid);
        sortRange(mid, high);
        merge(low, mid, high);
    }

    void merge(size_t low, size_t mid, size_t high) {
        size_t leftLength = mid - low;
        for (size_t i = 0; i < leftLength; ++i) buffer_[i] = elements_[low + i];
        size_t i = 0;
        size_t j = mid;
        size_t k = low;
        // k < j throughout, so no unread element of the right run is overwritten.
        while (i < leftLength && j < high) {
            if (less_(elements_[j], buffer_[i])) {
                elements_[k++] = std::move(elements_[j++]);
            } else {
                elements_[k++] = std::move(buffer_[i++]);
            }
        }
        while (i < leftLength) elements_[k++] = std::move(buffer_[i++]);
    }

    ListData& elements_;
    Less less_;
    ListData buffer_;
};

template <typename Less>
void mergeSort(ListData& elements, Less less) {
    MergeSorter<Less>(elements, std::move(less)).sort();
}

}  // namespace

Value nativePush(Caller&, Args args) {
    if (!args[0].isList()) nativeFail("push: first argument must be a list, got " + typeOf(args[0]));
    const ListPtr& list = args[0].asList();
    for (size_t i = 1; i < args.size(); ++i) list->push_back(args[i]);
    return args[0];
}

Value nativePop(Caller&, Args args) {
    if (!args[0].isList()) nativeFail("pop: expected a list, got " + typeOf(args[0]));
    const ListPtr& list = args[0].asList();
    if (list->empty()) nativeFail("pop: list is empty");
    Value last = std::move(list->back());
    list->pop_back();
    return last;
}

Value nativeRange(Caller&, Args args) {
    bool allIntegers = true;
    for (const Value& arg : args) {
        expectNumber(arg, "range");
        allIntegers = allIntegers && arg.isInteger();
    }
    if (allIntegers) {
        int64_t start = args.size() >= 2 ? args[0].asInteger() : 0;
        int64_t end = args.size() >= 2 ? args[1].asInteger() : args[0].asInteger();
        int64_t step = args.size() == 3 ? args[2].asInteger() : 1;
        return integerRange(start, end, step);
    }
    double start = args.size() >= 2 ? asDouble(args[0]) : 0.0;
    double end = args.size() >= 2 ? asDouble(args[1]) : asDouble(args[0]);
    double step = args.size() == 3 ? asDouble(args[2]) : 1.0;
    return floatRange(start, end, step);
}

Value nativeKeys(Caller&, Args args) {
    if (!args[0].isMap()) nativeFail("keys: expected a map, got " + typeOf(args[0]));
    const MapData& map = *args[0].asMap();
    ListData keys;
    keys.reserve(map.size());
    map.forEach([&keys](const Value& key, const Value&) { keys.push_back(key); });
    return Value::newList(std::move(keys));
}

Value nativeValues(Caller&, Args args) {
    if (!args[0].isMap()) nativeFail("values: expected a map, got " + typeOf(args[0]));
    const MapData& map = *args[0].asMap();
    ListData values;
    values.reserve(map.size());
    map.forEach([&values](const Value&, const Value& value) { values.push_back(value); });
    return Value::newList(std::move(values));
}

Value nativeItems(Caller&, Args args) {
    if (!args[0].isMap()) nativeFail("items: expected a map");
    const MapData& map = *args[0].asMap();
    ListData items;
    items.reserve(map.size());
    map.forEach([&items](const Value& key, const Value& value) { items.push_back(pair(key, value)); });
    return Value::newList(std::move(items));
}

// Also registered as `contains`; both report errors as "has".
Value nativeHas(Caller&, Args args) {
    const Value& container = args[0];
    const Value& item = args[1];
    if (container.isMap()) return Value::boolean(container.asMap()->find(item) != nullptr);
    if (container.isList()) {
        for (const Value& element : *container.asList()) {
            if (valuesEqual(element, item)) return Value::boolean(true);
        }
        return Value::boolean(false);
    }
    if (container.isString()) {
        if (!item.isString()) return Value::boolean(false);
        return Value::boolean(container.asString().find(item.asString()) != std::string::npos);
    }
    nativeFail("has: cannot search in " + typeOf(container));
}

Value nativeSlice(Caller&, Args args) {
    const Value& x = args[0];
    if (!x.isList() && !x.isString()) {
        nativeFail("slice: expected a list or string, got " + typeOf(x));
    }
    int64_t length = static_cast<int64_t>(x.isList() ? x.asList()->size() : x.asString().size());
    int64_t start = sliceBound(args, 1, length, 0, "start");
    int64_t end = sliceBound(args, 2, length, length, "end");
    if (end < start) end = start;
    if (x.isString()) {
        return Value::string(x.asString().substr(static_cast<size_t>(start),
                                                 static_cast<size_t>(end - start)));
    }
    const ListData& list = *x.asList();
    return Value::newList(ListData(list.begin() + start, list.begin() + end));
}

// map and filter visit the elements present when the call began. A callback
// may shrink the list; the loop then stops at its current end.
Value nativeMap(Caller& caller, Args args) {
    if (!args[1].isList()) nativeFail("map: second argument must be a list, got " + typeOf(args[1]));
    Value function = args[0];
    ListPtr list = args[1].asList();
    const size_t initialLength = list->size();
    ListData results;
    results.reserve(initialLength);
    for (size_t i = 0; i < initialLength && i < list->size(); ++i) {
        Value element = (*list)[i];
        results.push_back(caller.call(function, Args(&element, 1)));
    }
    return Value::newList(std::move(results));
}

Value nativeFilter(Caller& caller, Args args) {
    if (!args[1].isList()) {
        nativeFail("filter: second argument must be a list, got " + typeOf(args[1]));
    }
    Value function = args[0];
    ListPtr list = args[1].asList();
    const size_t initialLength = list->size();
    ListData kept;
    for (size_t i = 0; i < initialLength && i < list->size(); ++i) {
        Value element = (*list)[i];
        Value argument = element;
        if (isTruthy(caller.call(function, Args(&argument, 1)))) kept.push_back(std::move(element));
    }
    return Value::newList(std::move(kept));
}

// The length is read again before every step, so elements the callback
// appends are folded too.
Value nativeReduce(Caller& caller, Args args) {
    if (!args[1].isList()) {
        nativeFail("reduce: second argument must be a list, got " + typeOf(args[1]));
    }
    Value function = args[0];
    ListPtr list = args[1].asList();
    Value accumulator;
    size_t i = 0;
    if (args.size() == 3) {
        accumulator = args[2];
    } else {
        if (list->empty()) nativeFail("reduce: empty list with no initial value");
        accumulator = (*list)[0];
        i = 1;
    }
    for (; i < list->size(); ++i) {
        Value element = (*list)[i];
        Value arguments[2] = {std::move(accumulator), std::move(element)};
        accumulator = caller.call(function, Args(arguments, 2));
    }
    return accumulator;
}

// Sorts a copy: the argument is unchanged even when a comparison fails midway.
Value nativeSort(Caller& caller, Args args) {
    if (!args[0].isList()) nativeFail("sort: expected a list, got " + typeOf(args[0]));
    ListData elements = *args[0].asList();
    if (elements.size() < 2) return Value::newList(std::move(elements));
    if (args.size() == 2) {
        Value less = args[1];
        mergeSort(elements, [&caller, &less](const Value& a, const Value& b) {
            Value arguments[2] = {a, b};
            return isTruthy(caller.call(less, Args(arguments, 2)));
        });
    } else {
        mergeSort(elements, defaultLess);
    }
    return Value::newList(std::move(elements));
}

Value nativeReverse(Caller&, Args args) {
    const Value& x = args[0];
    if (x.isString()) return Value::string(std::string(x.asString().rbegin(), x.asString().rend()));
    if (x.isList()) return Value::newList(ListData(x.asList()->rbegin(), x.asList()->rend()));
    nativeFail("reverse: expected a list or string, got " + typeOf(x));
}

Value nativeFind(Caller&, Args args) {
    const Value& x = args[0];
    const Value& item = args[1];
    if (x.isList()) {
        const ListData& list = *x.asList();
        for (size_t i = 0; i < list.size(); ++i) {
            if (valuesEqual(list[i], item)) return Value::integer(static_cast<int64_t>(i));
        }
        return Value::integer(-1);
    }
    if (x.isString()) {
        if (!item.isString()) nativeFail("find: substring must be a string");
        size_t position = x.asString().find(item.asString());
        return Value::integer(position == std::string::npos ? -1 : static_cast<int64_t>(position));
    }
    nativeFail("find: expected a list or string, got " + typeOf(x));
}

Value nativeSum(Caller&, Args args) {
    if (!args[0].isList()) nativeFail("sum: expected a list, got " + typeOf(args[0]));
    // Integers wrap in two's complement, hence the unsigned total.
    uint64_t integerTotal = 0;
    double floatTotal = 0.0;
    bool sawFloat = false;
    for (const Value& element : *args[0].asList()) {
        if (element.isInteger()) {
            integerTotal += static_cast<uint64_t>(element.asInteger());
        } else if (element.isFloat()) {
            floatTotal += element.asFloat();
            sawFloat = true;
        } else {
            nativeFail("sum: list has a non-number (" + typeOf(element) + ")");
        }
    }
    int64_t integerSum = static_cast<int64_t>(integerTotal);
    if (!sawFloat) return Value::integer(integerSum);
    return Value::number(static_cast<double>(integerSum) + floatTotal);
}

Value nativeCount(Caller&, Args args) {
    if (!args[0].isList()) nativeFail("count: expected a list, got " + typeOf(args[0]));
    int64_t count = 0;
    for (const Value& element : *args[0].asList()) {
        if (valuesEqual(element, args[1])) ++count;
    }
    return Value::integer(count);
}

Value nativeZip(Caller&, Args args) {
    if (!args[0].isList() || !args[1].isList()) nativeFail("zip: expected two lists");
    const ListData& a = *args[0].asList();
    const ListData& b = *args[1].asList();
    size_t length = std::min(a.size(), b.size());
    ListData pairs;
    pairs.reserve(length);
    for (size_t i = 0; i < length; ++i) pairs.push_back(pair(a[i], b[i]));
    return Value::newList(std::move(pairs));
}

Value nativeEnumerate(Caller&, Args args) {
    if (!args[0].isList()) nativeFail("enumerate: expected a list");
    const ListData& list = *args[0].asList();
    ListData pairs;
    pairs.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        pairs.push_back(pair(Value::integer(static_cast<int64_t>(i)), list[i]));
    }
    return Value::newList(std::move(pairs));
}

Value nativeInsert(Caller&, Args args) {
    if (!args[0].isList()) nativeFail("insert: expected a list");
    const ListPtr& list = args[0].asList();
    int64_t length = static_cast<int64_t>(list->size());
    int64_t index = expectInteger(args[1], "insert");
    if (index < 0) index += length;
    if (index < 0 || index > length) nativeFail("insert: index out of range");
    list->insert(list->begin() + index, args[2]);
    return args[0];
}

Value nativeRemoveAt(Caller&, Args args) {
    if (!args[0].isList()) nativeFail("remove_at: expected a list");
    const ListPtr& list = args[0].asList();
    int64_t length = static_cast<int64_t>(list->size());
    int64_t index = expectInteger(args[1], "remove_at");
    if (index < 0) index += length;
    if (index < 0 || index >= length) nativeFail("remove_at: index out of range");
    Value removed = std::move((*list)[static_cast<size_t>(index)]);
    list->erase(list->begin() + index);
    return removed;
}

Value nativeGet(Caller&, Args args) {
    const Value& container = args[0];
    Value fallback = args.size() == 3 ? args[2] : Value::nil();
    if (container.isMap()) {
        const Value* found = container.asMap()->find(args[1]);
        return found ? *found : fallback;
    }
    if (container.isList()) {
        if (!args[1].isInteger()) nativeFail("get: list index must be an integer");
        const ListData& list = *container.asList();
        int64_t length = static_cast<int64_t>(list.size());
        int64_t index = args[1].asInteger();
        if (index < 0) index += length;
        if (index < 0 || index >= length) return fallback;
        return list[static_cast<size_t>(index)];
    }
    nativeFail("get: expected a map or list");
}

Value nativeDelete(Caller&, Args args) {
    if (!args[0].isMap()) nativeFail("delete: expected a map");
    return Value::boolean(args[0].asMap()->remove(args[1]));
}

}  // namespace ferrow
