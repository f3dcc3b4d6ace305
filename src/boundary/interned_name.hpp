// A str interned in each interpreter, for names the module looks up or
// keys by again and again: a method name, a dict key of every result.
#pragma once

#include "boundary/per_interpreter.hpp"

namespace tallygrams::boundary {

// At namespace scope, as every PerInterpreterObject.
class InternedName final : public PerInterpreterObject {
public:
    explicit InternedName(const char* text) noexcept : PerInterpreterObject(text), text_(text) {}

private:
    Result<PyRef> create() override {
        PyObject* name = PyUnicode_InternFromString(text_);
        if (name == nullptr) return PyErr::fetch();
        return PyRef(name);
    }
    const char* text_;
};

}  // namespace tallygrams::boundary
