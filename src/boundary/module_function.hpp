// One record per module-level function, in the manner of CPython's Argument
// Clinic: the function's name, parameters, docstring (whose first lines are
// the text signature) and body stand together next to the body's code, and
// everything the interpreter needs is derived from that one record.
//
//     constexpr ModuleFunction kScore{
//         .signature = {.function_name = "score",
//                       .parameters = {{"reference", &kText}, {"prediction", &kText}},
//                       .required = 2},
//         .doc = "score(reference, prediction)\n--\n\n...",
//         .body = score_body,
//     };
//
// The module definition then lists `method_definition<kScore>`.
#pragma once

#include <string_view>

#include "boundary/arguments.hpp"
#include "boundary/doc_signature.hpp"
#include "boundary/call_boundary.hpp"
#include "boundary/python.hpp"

namespace tallygrams::boundary {

struct ModuleFunction {
    Signature signature;
    // "name(parameters)\n--\n\n" then the documentation proper, so that the
    // interpreter derives __text_signature__ from it.
    const char* doc;
    // Runs with the arguments bound; every failure is a PyErr or unwinds.
    // `module` is the module object when `receives_module` is set, else null.
    Result<PyRef> (*body)(PyObject* module, const BoundArguments& arguments);
    // Without it the function is static (METH_STATIC): its __self__ reads as
    // None and it is called with no module.
    bool receives_module = false;
};

// True when the docstring's signature line names the function and its
// parameters in order, as the record does; each record's file checks it
// with a static_assert.
constexpr bool doc_matches_signature(const ModuleFunction& f) {
    return doc_matches_signature(f.signature.function_name, f.signature, f.doc);
}

// The fast-call entry point of a record: binding, then the body, inside the
// call boundary.
template <const ModuleFunction& F>
PyObject* fastcall_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary_object([&]() -> Result<PyRef> {
        Result<BoundArguments> bound = bind_arguments(F.signature, args, nargs, kwnames);
        if (!bound) return std::move(bound).take_error();
        return F.body(module, bound.value());
    });
}

// The interpreter keeps a pointer to the method definition for as long as
// the function object lives, so it has static storage.
template <const ModuleFunction& F>
inline PyMethodDef method_definition = {
    .ml_name = F.signature.function_name.data(),
    .ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fastcall_entry<F>)),
    .ml_flags = METH_FASTCALL | METH_KEYWORDS | (F.receives_module ? 0 : METH_STATIC),
    .ml_doc = F.doc,
};

}  // namespace tallygrams::boundary
