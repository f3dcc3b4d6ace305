// The types of parameters, in the manner of Argument Clinic's converters: a
// function's record states each parameter's type, and its body reads the
// argument through that type's converter. So every function that takes, say,
// a count takes it by one rule and refuses it with one message.
//
//     .parameters = {{"columns"}, {"n_samples", &kCount}, {"seed", &kSeed}},
//     ...
//     Result<size_t> samples = arguments.get<Count>(1, 1000);
//
// A converter is a class with the `type` its records name, the C++ `Value`
// it gives, and `convert(object, parameter name)`. A failure is a TypeError
// for an argument of the wrong type, carrying the note "while processing
// '<name>'", or a ValueError for a value out of range, whose message names
// the parameter. A face may define converters of its own the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "boundary/py_err.hpp"

namespace tallygrams::boundary {

// Identified by its address; the name is for messages about a record.
struct ParameterType {
    std::string_view name;
};

// Any object, read by the body's own rules (a mapping of columns, a
// tokenizer, Arrow data).
inline constexpr ParameterType kObject{"object"};
inline constexpr ParameterType kText{"text"};
inline constexpr ParameterType kTexts{"sequence of texts"};
inline constexpr ParameterType kTruth{"truth value"};
inline constexpr ParameterType kCount{"count"};
inline constexpr ParameterType kUnitInterval{"unit interval"};
inline constexpr ParameterType kSeed{"seed"};
inline constexpr ParameterType kSeedOrNone{"seed or None"};

struct Parameter {
    std::string_view name;
    const ParameterType* type = &kObject;
};

struct AnyObject {
    static constexpr const ParameterType* type = &kObject;
    using Value = PyObject*;  // borrowed
    static Result<Value> convert(PyObject* object, std::string_view) { return object; }
};

// A str (or subclass), read in place as UTF-8; valid while the object lives.
struct Text {
    static constexpr const ParameterType* type = &kText;
    using Value = std::string_view;
    static Result<Value> convert(PyObject* object, std::string_view name);
};

// A sequence whose items are texts, not a str itself: a tuple of its items,
// taken at once so that nothing the caller does meanwhile changes it. The
// items are checked where they are read, with their positions.
struct Texts {
    static constexpr const ParameterType* type = &kTexts;
    using Value = PyRef;
    static Result<Value> convert(PyObject* object, std::string_view name);
};

// Any object, by its truth, as `if value:` reads it.
struct Truth {
    static constexpr const ParameterType* type = &kTruth;
    using Value = bool;
    static Result<Value> convert(PyObject* object, std::string_view name);
};

// A positive int, or anything with __index__ (a NumPy integer). A bool or a
// float is refused as a TypeError: True is no count of 1, and 2.5 no count
// at all. A count that no size can hold is a ValueError; how much a count
// may cost is for the code that spends it to judge.
struct Count {
    static constexpr const ParameterType* type = &kCount;
    using Value = size_t;
    static Result<Value> convert(PyObject* object, std::string_view name);
};

// A real number from 0 to 1 (NaN is outside), as float() reads it.
struct UnitInterval {
    static constexpr const ParameterType* type = &kUnitInterval;
    using Value = double;
    static Result<Value> convert(PyObject* object, std::string_view name);
};

// An int from 0 to 2**64 - 1, or anything with __index__; a bool or a
// float is a TypeError, as for a count.
struct Seed {
    static constexpr const ParameterType* type = &kSeed;
    using Value = uint64_t;
    static Result<Value> convert(PyObject* object, std::string_view name);
};

// None, or a seed.
struct SeedOrNone {
    static constexpr const ParameterType* type = &kSeedOrNone;
    using Value = std::optional<uint64_t>;
    static Result<Value> convert(PyObject* object, std::string_view name);
};

}  // namespace tallygrams::boundary
