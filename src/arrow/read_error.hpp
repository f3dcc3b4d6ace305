// Errors found in data handed over by an Arrow producer. The producer is
// outside our control, so every way its data can be malformed ends here as a
// value the caller turns into an exception, never as a crash.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tallygrams::arrow {

enum class ReadErrorKind {
    // A well-formed array of a type we do not read (binary, dictionary, ...),
    // or something other than a struct where a record batch was expected.
    kUnsupportedType,
    // The structures break the interface's rules: a released structure,
    // wrong buffer counts, missing buffers, offsets out of order or bounds.
    kInvalidData,
    // A text value that is not valid UTF-8.
    kInvalidUtf8,
    // A record batch without the requested column, or with two of that name.
    kColumnNotFound,
    kDuplicateColumn,
    // The producer's stream reported a failure (see ReadError::code).
    kStreamFailed,
};

struct ReadError {
    ReadErrorKind kind;
    std::string message;
    // For kStreamFailed: the producer's error code, an errno value (EINVAL,
    // ENOMEM, EIO, ...). 0 otherwise.
    int code = 0;
};

// Either a T or the error that prevented it.
template <class T>
class [[nodiscard]] ReadResult {
public:
    ReadResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
    ReadResult(ReadError error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    bool ok() const noexcept { return state_.index() == 0; }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const ReadError& error() const& { return std::get<1>(state_); }
    ReadError&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, ReadError> state_;
};

// Success, or the error found.
class [[nodiscard]] ReadStatus {
public:
    ReadStatus() = default;
    ReadStatus(ReadError error) : error_(std::move(error)) {}  // NOLINT: implicit by design

    bool ok() const noexcept { return !error_.has_value(); }
    const ReadError& error() const& { return *error_; }
    ReadError&& error() && { return std::move(*error_); }

private:
    std::optional<ReadError> error_;
};

inline ReadError invalid_data(std::string message) { return {ReadErrorKind::kInvalidData, std::move(message)}; }

}  // namespace tallygrams::arrow
