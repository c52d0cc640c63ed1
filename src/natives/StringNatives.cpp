#include "natives/NativeFunctions.h"

#include "natives/Registry.h"

namespace ferrow {

Value nativeUpper(Caller&, std::vector<Value>&) { nativeFail("upper: not implemented yet"); }
Value nativeLower(Caller&, std::vector<Value>&) { nativeFail("lower: not implemented yet"); }
Value nativeSplit(Caller&, std::vector<Value>&) { nativeFail("split: not implemented yet"); }
Value nativeJoin(Caller&, std::vector<Value>&) { nativeFail("join: not implemented yet"); }
Value nativeTrim(Caller&, std::vector<Value>&) { nativeFail("trim: not implemented yet"); }
Value nativeReplace(Caller&, std::vector<Value>&) { nativeFail("replace: not implemented yet"); }
Value nativeStartsWith(Caller&, std::vector<Value>&) { nativeFail("starts_with: not implemented yet"); }
Value nativeEndsWith(Caller&, std::vector<Value>&) { nativeFail("ends_with: not implemented yet"); }
Value nativeChar(Caller&, std::vector<Value>&) { nativeFail("char: not implemented yet"); }
Value nativeOrd(Caller&, std::vector<Value>&) { nativeFail("ord: not implemented yet"); }
Value nativeHex(Caller&, std::vector<Value>&) { nativeFail("hex: not implemented yet"); }
Value nativeBin(Caller&, std::vector<Value>&) { nativeFail("bin: not implemented yet"); }
Value nativeOct(Caller&, std::vector<Value>&) { nativeFail("oct: not implemented yet"); }
Value nativeParseInt(Caller&, std::vector<Value>&) { nativeFail("parse_int: not implemented yet"); }
Value nativeChars(Caller&, std::vector<Value>&) { nativeFail("chars: not implemented yet"); }
Value nativeRepeat(Caller&, std::vector<Value>&) { nativeFail("repeat: not implemented yet"); }
Value nativeCapitalize(Caller&, std::vector<Value>&) { nativeFail("capitalize: not implemented yet"); }

}  // namespace ferrow
