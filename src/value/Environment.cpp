#include "value/Environment.h"

namespace ferrow {

Environment::Environment(Ref<Environment> parent, bool hashed)
    : GcObj(ObjType::Environment), parent(std::move(parent)) {
    if (hashed) table_ = std::make_unique<Table>();
}

Environment::~Environment() = default;

Value* Environment::define(std::string_view name, Value value) {
    if (Value* slot = find(name)) {
        *slot = std::move(value);
        return slot;
    }
    if (!table_ && small_.size() < kSmallLimit) {
        small_.emplace_back(std::string(name), std::move(value));
        return &small_.back().second;
    }
    if (!table_) {
        // Past a handful of names a scope is searched by hash.
        auto table = std::make_unique<Table>();
        for (auto& binding : small_) table->emplace(std::move(binding.first), std::move(binding.second));
        small_.clear();
        table_ = std::move(table);
    }
    return &table_->emplace(std::string(name), std::move(value)).first->second;
}

void Environment::clear() noexcept {
    // Taken out first, so that whatever the bindings release sees an empty
    // scope.
    auto small = std::move(small_);
    small_.clear();
    auto table = std::move(table_);
    Ref<Environment> up = std::move(parent);
}

}  // namespace ferrow
