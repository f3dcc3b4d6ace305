#include "module/score_function.hpp"

#include <array>
#include <cstring>
#include <string_view>

#include "module/arguments.hpp"
#include "module/call_boundary.hpp"
#include "module/new_object.hpp"
#include "module/run_detached.hpp"
#include "module/score_type.hpp"
#include "scorer/pair_scorer.hpp"

namespace tallygrams::module {
namespace {

constexpr CallSignature kScoreSignature{"score", {"reference", "prediction"}};

Result<PyRef> score_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Result<BoundArguments> bound = bind_arguments(kScoreSignature, args, nargs, kwnames);
    if (!bound) return std::move(bound).take_error();

    Result<std::string_view> reference = extract_text_argument(bound.value().values[0], "reference");
    if (!reference) return std::move(reference).take_error();
    Result<std::string_view> prediction = extract_text_argument(bound.value().values[1], "prediction");
    if (!prediction) return std::move(prediction).take_error();

    // The views stay valid with the lock released: the caller's references
    // keep both str objects alive, and str objects never change.
    const scorer::PairScores scores =
        run_detached([&] { return scorer::score_pair(reference.value(), prediction.value()); });
    return pair_scores_to_dict(scores);
}

}  // namespace

// A new str from ASCII text: built directly rather than decoded as UTF-8,
// since this runs three times for every scored pair.
PyRef new_ascii_string(std::string_view text) {
    PyRef string = new_object_or_fail(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
    std::memcpy(PyUnicode_1BYTE_DATA(string.get()), text.data(), text.size());
    return string;
}

Result<PyRef> pair_scores_to_dict(const scorer::PairScores& scores) {
    PyRef dict = new_object_or_fail(PyDict_New());
    PyObject* type = created_score_type();

    const std::array<std::pair<std::string_view, const scorer::Score*>, 3> entries = {{
        {"rouge1", &scores.rouge1},
        {"rouge2", &scores.rouge2},
        {"rougeL", &scores.rougeL},
    }};
    for (const auto& [name, value] : entries) {
        Result<PyRef> score = new_score(type, *value);
        if (!score) return std::move(score).take_error();
        PyRef key = new_ascii_string(name);
        if (PyDict_SetItem(dict.get(), key.get(), score.value().get()) < 0) return PyErr::fetch();
    }
    return dict;
}

PyObject* score_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary_object([&] { return score_body(args, nargs, kwnames); });
}

}  // namespace tallygrams::module
