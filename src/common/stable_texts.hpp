// Names and texts that callers match on. Programs set these environment
// variables, catch the exception class by its module and name, and compare
// these messages (or check that they start with them); another copy of this
// code loaded into the same process looks the exception class up by its key.
// None of them may change, not even to read better: every caller that
// matches on one would break without a sign.
#pragma once

#include <string_view>

namespace tallygrams::stable {

// The worker pool's size: the first of the two that holds a count.
inline constexpr const char* kWorkerCountVariable = "RAYON_NUM_THREADS";
inline constexpr const char* kCpuCountVariable = "RAYON_RS_NUM_CPUS";

// The class raised for an internal failure ("module.name"), and the key of
// the interpreter's dict under which every module finds that class.
inline constexpr const char* kPanicExceptionName = "pyo3_runtime.PanicException";
inline constexpr const char* kPanicExceptionKey = "tallygrams.PanicException";

// A type mismatch: "'<type>' object is not an instance of '<expected>'",
// with kUnknownTypeName for a type whose name cannot be had, and for None
// "'None' is not an instance of '<expected>'".
inline constexpr std::string_view kIsNotAnInstanceOf = " is not an instance of ";
inline constexpr std::string_view kUnknownTypeName = "<failed to extract type name>";

// The note on an argument's conversion error: "while processing '<name>'".
inline constexpr std::string_view kArgumentNote = "while processing ";

// The module tallygrams: a batch argument that is a lone str, and batch
// arguments of different lengths.
inline constexpr const char* kLoneStrBatch = "Can't extract `str` to `Vec`";
inline constexpr const char* kBatchLengthsDiffer = "references and predictions must have the same length";

// Internal failures: a Python object that could not be made, and a
// PanicException from Python code whose text cannot be read.
inline constexpr const char* kNullObject = "PyObject pointer is null";
inline constexpr const char* kUnreadablePanic = "Unwrapped panic from Python code";

// The companion: rouge type names ("Invalid rouge type: rouge0x"), and
// numbers out of range ("n_samples must be positive").
inline constexpr std::string_view kInvalidRougeType = "Invalid rouge type: ";
inline constexpr std::string_view kNonPositiveN = "rougen requires positive n: ";
inline constexpr std::string_view kMustBePositive = "must be positive";
inline constexpr std::string_view kMustBeInUnitInterval = "must be in range [0, 1]";

}  // namespace tallygrams::stable
