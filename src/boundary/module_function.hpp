// One record per module-level function, in the manner of CPython's Argument
// Clinic: the function's name, parameters, docstring (whose first lines are
// the text signature) and body stand together next to the body's code, and
// everything the interpreter needs is derived from that one record.
//
//     constexpr ModuleFunction kScore{
//         .signature = {.function_name = "score", .names = {"reference", "prediction"}, .required = 2},
//         .doc = "score(reference, prediction)\n--\n\n...",
//         .body = score_body,
//     };
//
// The module definition then lists `method_definition<kScore>`.
#pragma once

#include <string_view>

#include "boundary/arguments.hpp"
#include "boundary/call_boundary.hpp"
#include "boundary/python.hpp"

namespace tallygrams::boundary {

struct ModuleFunction {
    Signature signature;
    // "name(parameters)\n--\n\n" then the documentation proper, so that the
    // interpreter derives __text_signature__ from it.
    const char* doc;
    // Runs with the arguments bound; every failure is a PyErr or unwinds.
    Result<PyRef> (*body)(const BoundArguments& arguments);
};

namespace detail {

constexpr bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace detail

// True when the docstring's signature line names the function and its
// parameters in order, as the record does; each record's file checks it
// with a static_assert.
constexpr bool doc_matches_signature(const ModuleFunction& f) {
    std::string_view doc = f.doc;
    if (!detail::starts_with(doc, f.signature.function_name)) return false;
    doc.remove_prefix(f.signature.function_name.size());
    if (!detail::starts_with(doc, "(")) return false;
    doc.remove_prefix(1);
    for (size_t k = 0; k < f.signature.count(); ++k) {
        if (k > 0) {
            if (!detail::starts_with(doc, ", ")) return false;
            doc.remove_prefix(2);
        }
        if (k == f.signature.keyword_only_from) {
            if (!detail::starts_with(doc, "*, ")) return false;
            doc.remove_prefix(3);
        }
        if (!detail::starts_with(doc, f.signature.names[k])) return false;
        doc.remove_prefix(f.signature.names[k].size());
        if (detail::starts_with(doc, "=")) doc = doc.substr(doc.find_first_of(",)"));
    }
    return detail::starts_with(doc, ")\n--\n\n");
}

// The fast-call entry point of a record: binding, then the body, inside the
// call boundary.
template <const ModuleFunction& F>
PyObject* fastcall_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary_object([&]() -> Result<PyRef> {
        Result<BoundArguments> bound = bind_arguments(F.signature, args, nargs, kwnames);
        if (!bound) return std::move(bound).take_error();
        return F.body(bound.value());
    });
}

// The interpreter keeps a pointer to the method definition for as long as
// the function object lives, so it has static storage. METH_STATIC: the body
// is called with no self, and the function's __self__ reads as None.
template <const ModuleFunction& F>
inline PyMethodDef method_definition = {
    .ml_name = F.signature.function_name.data(),
    .ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fastcall_entry<F>)),
    .ml_flags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
    .ml_doc = F.doc,
};

}  // namespace tallygrams::boundary
