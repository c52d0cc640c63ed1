#include "natives/NativeFunctions.h"

#include "natives/Registry.h"

namespace ferrow {

Value nativeFloor(Caller&, std::vector<Value>&) { nativeFail("floor: not implemented yet"); }
Value nativeCeil(Caller&, std::vector<Value>&) { nativeFail("ceil: not implemented yet"); }
Value nativeAbs(Caller&, std::vector<Value>&) { nativeFail("abs: not implemented yet"); }
Value nativeSqrt(Caller&, std::vector<Value>&) { nativeFail("sqrt: not implemented yet"); }
Value nativeMin(Caller&, std::vector<Value>&) { nativeFail("min: not implemented yet"); }
Value nativeMax(Caller&, std::vector<Value>&) { nativeFail("max: not implemented yet"); }
Value nativeRound(Caller&, std::vector<Value>&) { nativeFail("round: not implemented yet"); }
Value nativePow(Caller&, std::vector<Value>&) { nativeFail("pow: not implemented yet"); }
Value nativeSin(Caller&, std::vector<Value>&) { nativeFail("sin: not implemented yet"); }
Value nativeCos(Caller&, std::vector<Value>&) { nativeFail("cos: not implemented yet"); }
Value nativeTan(Caller&, std::vector<Value>&) { nativeFail("tan: not implemented yet"); }
Value nativeLog(Caller&, std::vector<Value>&) { nativeFail("log: not implemented yet"); }
Value nativeExp(Caller&, std::vector<Value>&) { nativeFail("exp: not implemented yet"); }
Value nativeRandom(Caller&, std::vector<Value>&) { nativeFail("random: not implemented yet"); }
Value nativeRandint(Caller&, std::vector<Value>&) { nativeFail("randint: not implemented yet"); }
Value nativeFloat(Caller&, std::vector<Value>&) { nativeFail("float: not implemented yet"); }
Value nativeClamp(Caller&, std::vector<Value>&) { nativeFail("clamp: not implemented yet"); }
Value nativeSign(Caller&, std::vector<Value>&) { nativeFail("sign: not implemented yet"); }

}  // namespace ferrow
