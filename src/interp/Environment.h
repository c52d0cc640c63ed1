#pragma once
// One lexical scope: a hash map from name to value with a shared parent.
// The tree-walker makes one per block, iteration and call; the VM uses one as
// its globals table.

#include <memory>
#include <string>
#include <unordered_map>

#include "value/Value.h"

namespace ferrow {

class Environment : public std::enable_shared_from_this<Environment> {
public:
    explicit Environment(std::shared_ptr<Environment> parent = nullptr)
        : parent(std::move(parent)) {}

    // Binds in this scope, overwriting an existing binding of the name here.
    // Returns the slot; unordered_map nodes never move, so the pointer stays
    // valid for the life of the environment (the VM caches global slots).
    Value* define(const std::string& name, Value value) {
        auto [it, inserted] = values.try_emplace(name);
        it->second = std::move(value);
        return &it->second;
    }

    // Searches this scope, then the enclosing ones; null when unbound.
    Value* lookup(const std::string& name) {
        for (Environment* env = this; env; env = env->parent.get()) {
            auto it = env->values.find(name);
            if (it != env->values.end()) return &it->second;
        }
        return nullptr;
    }

    // Overwrites the nearest binding; does nothing when the name is unbound
    // (callers check with lookup first).
    void assign(const std::string& name, Value value) {
        if (Value* slot = lookup(name)) *slot = std::move(value);
    }

    static std::shared_ptr<Environment> child(std::shared_ptr<Environment> parent) {
        return std::make_shared<Environment>(std::move(parent));
    }

    std::unordered_map<std::string, Value> values;
    std::shared_ptr<Environment> parent;
};

}  // namespace ferrow
