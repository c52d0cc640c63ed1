#include "natives/NativeFunctions.h"

#include "natives/Registry.h"

namespace ferrow {

Value nativePrint(Caller&, std::vector<Value>&) { nativeFail("print: not implemented yet"); }
Value nativeInput(Caller&, std::vector<Value>&) { nativeFail("input: not implemented yet"); }
Value nativeType(Caller&, std::vector<Value>&) { nativeFail("type: not implemented yet"); }
Value nativeStr(Caller&, std::vector<Value>&) { nativeFail("str: not implemented yet"); }
Value nativeRepr(Caller&, std::vector<Value>&) { nativeFail("repr: not implemented yet"); }
Value nativeNum(Caller&, std::vector<Value>&) { nativeFail("num: not implemented yet"); }
Value nativeInt(Caller&, std::vector<Value>&) { nativeFail("int: not implemented yet"); }
Value nativeBool(Caller&, std::vector<Value>&) { nativeFail("bool: not implemented yet"); }
Value nativeLen(Caller&, std::vector<Value>&) { nativeFail("len: not implemented yet"); }
Value nativeIsNumber(Caller&, std::vector<Value>&) { nativeFail("is_number: not implemented yet"); }
Value nativeIsString(Caller&, std::vector<Value>&) { nativeFail("is_string: not implemented yet"); }
Value nativeIsList(Caller&, std::vector<Value>&) { nativeFail("is_list: not implemented yet"); }
Value nativeIsMap(Caller&, std::vector<Value>&) { nativeFail("is_map: not implemented yet"); }
Value nativeIsNil(Caller&, std::vector<Value>&) { nativeFail("is_nil: not implemented yet"); }
Value nativeIsBool(Caller&, std::vector<Value>&) { nativeFail("is_bool: not implemented yet"); }
Value nativeIsFunction(Caller&, std::vector<Value>&) { nativeFail("is_function: not implemented yet"); }
Value nativeCopy(Caller&, std::vector<Value>&) { nativeFail("copy: not implemented yet"); }
Value nativeAssert(Caller&, std::vector<Value>&) { nativeFail("assert: not implemented yet"); }
Value nativeError(Caller&, std::vector<Value>&) { nativeFail("error: not implemented yet"); }
Value nativeClock(Caller&, std::vector<Value>&) { nativeFail("clock: not implemented yet"); }

}  // namespace ferrow
