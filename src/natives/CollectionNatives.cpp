#include "natives/NativeFunctions.h"

#include "natives/Registry.h"

namespace ferrow {

Value nativePush(Caller&, std::vector<Value>&) { nativeFail("push: not implemented yet"); }
Value nativePop(Caller&, std::vector<Value>&) { nativeFail("pop: not implemented yet"); }
Value nativeRange(Caller&, std::vector<Value>&) { nativeFail("range: not implemented yet"); }
Value nativeKeys(Caller&, std::vector<Value>&) { nativeFail("keys: not implemented yet"); }
Value nativeValues(Caller&, std::vector<Value>&) { nativeFail("values: not implemented yet"); }
Value nativeHas(Caller&, std::vector<Value>&) { nativeFail("has: not implemented yet"); }
Value nativeSlice(Caller&, std::vector<Value>&) { nativeFail("slice: not implemented yet"); }
Value nativeMap(Caller&, std::vector<Value>&) { nativeFail("map: not implemented yet"); }
Value nativeFilter(Caller&, std::vector<Value>&) { nativeFail("filter: not implemented yet"); }
Value nativeReduce(Caller&, std::vector<Value>&) { nativeFail("reduce: not implemented yet"); }
Value nativeSort(Caller&, std::vector<Value>&) { nativeFail("sort: not implemented yet"); }
Value nativeReverse(Caller&, std::vector<Value>&) { nativeFail("reverse: not implemented yet"); }
Value nativeFind(Caller&, std::vector<Value>&) { nativeFail("find: not implemented yet"); }
Value nativeSum(Caller&, std::vector<Value>&) { nativeFail("sum: not implemented yet"); }
Value nativeCount(Caller&, std::vector<Value>&) { nativeFail("count: not implemented yet"); }
Value nativeZip(Caller&, std::vector<Value>&) { nativeFail("zip: not implemented yet"); }
Value nativeEnumerate(Caller&, std::vector<Value>&) { nativeFail("enumerate: not implemented yet"); }
Value nativeInsert(Caller&, std::vector<Value>&) { nativeFail("insert: not implemented yet"); }
Value nativeRemoveAt(Caller&, std::vector<Value>&) { nativeFail("remove_at: not implemented yet"); }
Value nativeGet(Caller&, std::vector<Value>&) { nativeFail("get: not implemented yet"); }
Value nativeItems(Caller&, std::vector<Value>&) { nativeFail("items: not implemented yet"); }
Value nativeDelete(Caller&, std::vector<Value>&) { nativeFail("delete: not implemented yet"); }

}  // namespace ferrow
