// Copying a batch argument (a Python sequence of str) into owned UTF-8
// strings, with the interpreter lock held.
#pragma once

#include <string_view>

#include "batch/owned_strings.hpp"
#include "module/py_err.hpp"

namespace tallygrams::batch {

// Every failure carries the note "while processing '<argument_name>'".
// Nothing copied survives a failure.
module::Result<OwnedStrings> extract_string_sequence(PyObject* object, std::string_view argument_name);

}  // namespace tallygrams::batch
