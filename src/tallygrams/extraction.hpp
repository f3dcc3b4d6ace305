// Copying a batch argument (a Python sequence of str) into owned UTF-8
// strings, with the interpreter lock held.
#pragma once

#include <string_view>

#include "boundary/parameter_types.hpp"
#include "boundary/py_err.hpp"
#include "tallygrams/owned_strings.hpp"

namespace tallygrams::batch {

// Every failure carries the note "while processing '<argument_name>'".
// Nothing copied survives a failure.
boundary::Result<batch::OwnedStrings> extract_string_sequence(PyObject* object, std::string_view argument_name);

// The type of the batch functions' two sequences: a sequence of str, not a
// str itself, copied. It differs from the boundary's sequence of texts in
// what it refuses a lone str with, a text this module's callers match on,
// and in naming no item's position.
inline constexpr boundary::ParameterType kCopiedTexts{"sequence of texts, copied"};

struct CopiedTexts {
    static constexpr const boundary::ParameterType* type = &kCopiedTexts;
    using Value = batch::OwnedStrings;
    static boundary::Result<Value> convert(PyObject* object, std::string_view name) {
        return extract_string_sequence(object, name);
    }
};

}  // namespace tallygrams::batch
