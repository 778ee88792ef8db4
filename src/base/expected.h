#pragma once

// A small stand-in for C++23's std::expected: operations that can fail return
// either their value or an Error that says why, so that callers can act on the
// reason (show it, map it to an exit status) instead of guessing from a bool.

#include <string>
#include <utility>
#include <variant>

namespace vantorel {

struct Error {
    std::string message;
    int code = 0; // optional machine-readable detail (errno, SQLite code, ...)
};

template <class T> class Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool hasValue() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return hasValue(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

template <> class Expected<void> {
public:
    Expected() = default;
    Expected(Error error) : error_(std::move(error)), failed_(true) {}

    bool hasValue() const noexcept { return !failed_; }
    explicit operator bool() const noexcept { return hasValue(); }
    const Error& error() const { return error_; }

private:
    Error error_;
    bool failed_ = false;
};

using Status = Expected<void>;

} // namespace vantorel
