// Python objects that every interpreter of the process gets its own of: the
// classes, the PanicException type, interned names. See README.md beside
// this file for why they live where they do, and for how they stay safe
// across fork(), re-entry and free-threaded builds.
//
//     // at namespace scope, so that it is registered before any interpreter
//     // can use this shared object
//     HeapTypeCell score_type_cell(score_type_definition, "Score");
//     ...
//     Result<PyObject*> type = score_type_cell.get();  // this interpreter's class
#pragma once

#include <atomic>
#include <cstddef>
#include <source_location>

#include "boundary/py_err.hpp"

namespace tallygrams::boundary {

// One Python object per interpreter, created there on first need and kept
// until that interpreter ends. Instances must have static storage duration:
// each takes a slot in every interpreter's table when it is constructed.
class PerInterpreterObject {
public:
    explicit PerInterpreterObject(const char* description) noexcept;
    PerInterpreterObject(const PerInterpreterObject&) = delete;
    PerInterpreterObject& operator=(const PerInterpreterObject&) = delete;

    // The calling interpreter's object, borrowed: it lives as long as that
    // interpreter. Requires an attached thread. Fails with the interpreter's
    // exception if it cannot be created (a later call tries again); creating
    // it again while this thread is already creating it fails internally.
    Result<PyObject*> get();

    // For objects that must exist by now (module execution created them): a
    // failure to create is reported as unraisable and fails internally.
    PyObject* get_or_fail(std::source_location where = std::source_location::current());

    const char* description() const noexcept { return description_; }

protected:
    ~PerInterpreterObject() = default;

    // Makes this interpreter's object. May run Python code (which may even
    // call back into the module), but should not: see README.md.
    virtual Result<PyRef> create() = 0;

private:
    Result<PyObject*> create_into(std::atomic<PyObject*>& cell);

    const char* description_;
    size_t slot_;
};

}  // namespace tallygrams::boundary
