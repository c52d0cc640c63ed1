#pragma once
// One lexical scope of the tree-walker, or the globals of either engine: a
// table from name to value with a shared parent.
//
// Most scopes (a block, an iteration, a call) bind a handful of names, so a
// scope starts as a short array searched in order, and turns into a hash
// table only once it holds more than kSmallLimit names. The globals are a
// hash table from the start: their slots never move, so the VM may cache
// them.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "value/Value.h"

namespace ferrow {

class Environment final : public GcObj {
public:
    explicit Environment(Ref<Environment> parent = {}, bool hashed = false);
    ~Environment();

    static Ref<Environment> child(const Ref<Environment>& parent) {
        return Ref<Environment>(newContainer<Environment>(parent));
    }
    static Ref<Environment> makeGlobals() {
        return Ref<Environment>(newContainer<Environment>(Ref<Environment>(), true));
    }

    // Binds in this scope, overwriting an existing binding of the name here,
    // and returns the slot. In a hashed scope the slot stays valid for the
    // life of the scope; in a small one until the next define.
    Value* define(std::string_view name, Value value);

    // Searches this scope, then the enclosing ones; null when unbound.
    Value* lookup(std::string_view name) {
        for (Environment* env = this; env; env = env->parent.get()) {
            if (Value* slot = env->find(name)) return slot;
        }
        return nullptr;
    }

    // Overwrites the nearest binding; does nothing when the name is unbound
    // (callers check with lookup first).
    void assign(std::string_view name, Value value) {
        if (Value* slot = lookup(name)) *slot = std::move(value);
    }

    // Drops every binding and the parent (the collector breaks cycles so).
    void clear() noexcept;

    template <typename F>
    void forEachValue(F&& visit) const {
        for (const auto& binding : small_) visit(binding.second);
        if (table_) {
            for (const auto& binding : *table_) visit(binding.second);
        }
    }

    Ref<Environment> parent;

private:
    static constexpr std::size_t kSmallLimit = 8;

    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>()(s);
        }
    };
    using Table = std::unordered_map<std::string, Value, NameHash, std::equal_to<>>;

    Value* find(std::string_view name) {
        for (auto& binding : small_) {
            if (binding.first == name) return &binding.second;
        }
        if (table_) {
            auto it = table_->find(name);
            if (it != table_->end()) return &it->second;
        }
        return nullptr;
    }

    std::vector<std::pair<std::string, Value>> small_;
    std::unique_ptr<Table> table_;
};

using EnvPtr = Ref<Environment>;

}  // namespace ferrow
