// One record per method of a class, like the module functions' records
// (module_function.hpp): name, parameters, docstring and body together, the
// method table entry derived from them. Methods are called with the class
// that defines them (METH_METHOD), which leads to the module's state even
// for instances of subclasses.
//
//     constexpr Method kScore{
//         .name = "score",
//         .signature = {.function_name = "RougeScorer.score", .parameters = {{"target"}, {"prediction"}},
//                       .required = 2, .method = true},
//         .doc = "score($self, target, prediction)\n--\n\n...",
//         .body = score_body,
//     };
#pragma once

#include <string_view>

#include "boundary/arguments.hpp"
#include "boundary/call_boundary.hpp"
#include "boundary/doc_signature.hpp"
#include "boundary/python.hpp"

namespace tallygrams::boundary {

struct Method {
    std::string_view name;
    Signature signature;
    const char* doc;
    Result<PyRef> (*body)(PyObject* self, PyTypeObject* defining_class, const BoundArguments& arguments);
};

constexpr bool doc_matches_signature(const Method& m) { return doc_matches_signature(m.name, m.signature, m.doc); }

template <const Method& M>
PyObject* method_entry(PyObject* self, PyTypeObject* defining_class, PyObject* const* args, size_t nargsf,
                       PyObject* kwnames) {
    return boundary_object([&]() -> Result<PyRef> {
        Result<BoundArguments> bound = bind_arguments(M.signature, args, PyVectorcall_NARGS(nargsf), kwnames);
        if (!bound) return std::move(bound).take_error();
        return M.body(self, defining_class, bound.value());
    });
}

template <const Method& M>
inline PyMethodDef method_table_entry() {
    return PyMethodDef{
        .ml_name = M.name.data(),
        .ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method_entry<M>)),
        .ml_flags = METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
        .ml_doc = M.doc,
    };
}

}  // namespace tallygrams::boundary
