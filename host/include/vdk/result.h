// Value-or-error results, as the sync client returns them across its plug-in interface.
#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace VDK {

template <typename T> using Optional = std::optional<T>;

// Either a value or an error. A Result converts to true when it holds the value.
template <typename T, typename Error> class Result {
public:
    Result(T value) : m_data(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_data(std::in_place_index<1>, std::move(error)) {}

    explicit operator bool() const { return m_data.index() == 0; }
    const T& get() const { return std::get<0>(m_data); }
    const T& operator*() const { return get(); }
    const T* operator->() const { return &get(); }
    const Error& error() const { return std::get<1>(m_data); }

private:
    std::variant<T, Error> m_data;
};

// Success carries nothing: a default-constructed Result is the success.
template <typename Error> class Result<void, Error> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    explicit operator bool() const { return !m_error.has_value(); }
    const Error& error() const { return *m_error; }

private:
    std::optional<Error> m_error;
};

} // namespace VDK
