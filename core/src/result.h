// The one result type of the core: a value or an Error, never both.
#pragma once

#include <cassert>
#include <utility>
#include <variant>

#include "object.h"

namespace vellox_core {

// Marker for operations that succeed without a value.
struct Unit {};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return *std::get_if<0>(&v_);
    }
    const T& value() const& {
        assert(ok());
        return *std::get_if<0>(&v_);
    }
    T&& value() && {
        assert(ok());
        return std::move(*std::get_if<0>(&v_));
    }

    const Error& error() const& {
        assert(!ok());
        return *std::get_if<1>(&v_);
    }
    Error&& error() && {
        assert(!ok());
        return std::move(*std::get_if<1>(&v_));
    }

    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

private:
    std::variant<T, Error> v_;
};

using Status = Result<Unit>;

}  // namespace vellox_core
