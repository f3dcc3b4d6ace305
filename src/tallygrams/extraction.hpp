// Copying a batch argument (a Python sequence of str) into owned UTF-8
// strings, with the interpreter lock held.
#pragma once

#include <string_view>

#include "tallygrams/owned_strings.hpp"
#include "boundary/py_err.hpp"

namespace tallygrams::batch {

// Every failure carries the note "while processing '<argument_name>'".
// Nothing copied survives a failure.
boundary::Result<batch::OwnedStrings> extract_string_sequence(PyObject* object, std::string_view argument_name);

}  // namespace tallygrams::batch
