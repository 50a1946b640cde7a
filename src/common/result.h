// The one shape of a result that can fail, for every module: the value, or
// a failure kind and the reason for people. A module whose failures need
// telling apart gives its own kind (an enum class whose first value, 0, is
// None); others use fenk::Failure. No exceptions anywhere: a caller looks at
// ok() before it touches the value.
//
//     fenk::Result<Song> loaded = LoadSong(path);
//     if (!loaded.ok()) return Fail(loaded.reason);
//     Play(loaded.value);
#pragma once

#include <string>
#include <utility>

namespace fenk {

// The kind of a failure that needs no telling apart from others.
enum class Failure { None, Failed };

// What a result without a value holds when it succeeds.
struct Done {};

template <typename Value, typename Kind = Failure>
struct Result {
    Kind failure = Kind{};  // Kind::None (0): success
    std::string reason;     // when failed: why, one line, without the program's name
    Value value{};          // meaningful only when ok()
    bool ok() const { return failure == Kind{}; }
};

// A result that succeeds with `value`.
template <typename Value, typename Kind = Failure>
Result<Value, Kind> Succeeded(Value value) {
    Result<Value, Kind> result;
    result.value = std::move(value);
    return result;
}

// A result that failed, of `kind`, for `reason`.
template <typename Value, typename Kind = Failure>
Result<Value, Kind> Failed(Kind kind, const std::string& reason) {
    Result<Value, Kind> result;
    result.failure = kind;
    result.reason = reason;
    return result;
}

// A success or a failure without a value.
using Status = Result<Done>;

inline Status Success() { return Status{}; }
inline Status Fail(const std::string& reason) { return Failed<Done>(Failure::Failed, reason); }

}  // namespace fenk
