// A value, or the failure that kept it from being had: how every stage and helper returns a result.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

// A failure on its way into an Expected, of whatever type that Expected's failure can be made from.
template <typename Failure>
struct Unexpected {
    Failure failure;
};

template <typename Failure>
Unexpected(Failure) -> Unexpected<Failure>;

template <typename Value, typename Failure>
class [[nodiscard]] Expected {
public:
    Expected(Value value) : state_(std::in_place_index<0>, std::move(value)) {}
    // An error number must never pass for a count or a yes: numbers are taken only of their own type.
    template <typename Other>
        requires std::is_arithmetic_v<Value> && std::is_arithmetic_v<Other> && (!std::is_same_v<Other, Value>)
    Expected(Other) = delete;

    template <typename Other>
        requires std::is_constructible_v<Failure, Other>
    Expected(Unexpected<Other>&& failure) : state_(std::in_place_index<1>, std::move(failure.failure))
    {
    }
    // A kind of failure is one, as it is returned, unless it could be taken for a value.
    template <typename Kind>
        requires std::is_constructible_v<Failure, Kind&&> && (!std::is_convertible_v<Kind&&, Value>)
        && (!std::is_arithmetic_v<std::remove_cvref_t<Kind>>) && (!std::is_same_v<std::remove_cvref_t<Kind>, Expected>)
    Expected(Kind&& failure) : state_(std::in_place_index<1>, std::forward<Kind>(failure))
    {
    }

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    Value& value() & { return std::get<0>(state_); }
    const Value& value() const& { return std::get<0>(state_); }
    Value&& value() && { return std::get<0>(std::move(state_)); }
    Value& operator*() & { return value(); }
    const Value& operator*() const& { return value(); }
    Value* operator->() { return &value(); }
    const Value* operator->() const { return &value(); }

    Failure& error() & { return std::get<1>(state_); }
    const Failure& error() const& { return std::get<1>(state_); }
    Failure&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<Value, Failure> state_;
};

// Success that carries nothing, or the failure.
template <typename Failure>
class [[nodiscard]] Expected<void, Failure> {
public:
    Expected() = default;

    template <typename Other>
        requires std::is_constructible_v<Failure, Other>
    Expected(Unexpected<Other>&& failure) : failure_(std::in_place, std::move(failure.failure))
    {
    }
    template <typename Kind>
        requires std::is_constructible_v<Failure, Kind&&> && (!std::is_arithmetic_v<std::remove_cvref_t<Kind>>)
        && (!std::is_same_v<std::remove_cvref_t<Kind>, Expected>)
    Expected(Kind&& failure) : failure_(std::in_place, std::forward<Kind>(failure))
    {
    }

    bool has_value() const { return !failure_; }
    explicit operator bool() const { return has_value(); }

    Failure& error() & { return *failure_; }
    const Failure& error() const& { return *failure_; }
    Failure&& error() && { return *std::move(failure_); }

private:
    std::optional<Failure> failure_;
};

// The failure of `result`, as a return statement passes it on. A failure that is an object goes
// straight into the function's own Expected: a temporary around it makes g++ 12 warn, wrongly, that
// its strings may be used uninitialised. A number must say it is a failure.
template <typename Value, typename Failure>
decltype(auto) failure_to_pass_on(Expected<Value, Failure>& result)
{
    if constexpr (std::is_arithmetic_v<Failure>)
        return Unexpected<Failure> { result.error() };
    else
        return std::move(result).error();
}

// Returns the failure of an Expected from the function around it; goes on when it holds a value.
#define TRY(...)                                                                  \
    if (auto try_result_ = (__VA_ARGS__); !try_result_)                          \
        return failure_to_pass_on(try_result_);                                   \
    else                                                                          \
        static_cast<void>(0)

// Declares `name` as the value of an Expected, or returns its failure from the function around it.
#define TRY_VALUE(name, ...)                                                      \
    auto name##_or_failure_ = (__VA_ARGS__);                                      \
    if (!name##_or_failure_)                                                      \
        return failure_to_pass_on(name##_or_failure_);                            \
    auto name = std::move(name##_or_failure_).value()
