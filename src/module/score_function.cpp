#include "module/score_function.hpp"

#include <array>
#include <cstring>
#include <string_view>

#include "boundary/arguments.hpp"
#include "boundary/call_boundary.hpp"
#include "boundary/new_object.hpp"
#include "boundary/run_detached.hpp"
#include "module/score_type.hpp"
#include "scorer/pair_scorer.hpp"

namespace tallygrams::module {
namespace {

constexpr boundary::CallSignature kScoreSignature{"score", {"reference", "prediction"}};

boundary::Result<boundary::PyRef> score_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    boundary::Result<boundary::BoundArguments> bound = boundary::bind_arguments(kScoreSignature, args, nargs, kwnames);
    if (!bound) return std::move(bound).take_error();

    boundary::Result<std::string_view> reference = boundary::extract_text_argument(bound.value().values[0], "reference");
    if (!reference) return std::move(reference).take_error();
    boundary::Result<std::string_view> prediction = boundary::extract_text_argument(bound.value().values[1], "prediction");
    if (!prediction) return std::move(prediction).take_error();

    // The views stay valid with the lock released: the caller's references
    // keep both str objects alive, and str objects never change.
    const scorer::PairScores scores =
        boundary::run_detached([&] { return scorer::score_pair(reference.value(), prediction.value()); });
    return pair_scores_to_dict(scores);
}

}  // namespace

// A new str from ASCII text: built directly rather than decoded as UTF-8,
// since this runs three times for every scored pair.
boundary::PyRef new_ascii_string(std::string_view text) {
    boundary::PyRef string = boundary::new_object_or_fail(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
    std::memcpy(PyUnicode_1BYTE_DATA(string.get()), text.data(), text.size());
    return string;
}

boundary::Result<boundary::PyRef> pair_scores_to_dict(const scorer::PairScores& scores) {
    boundary::PyRef dict = boundary::new_object_or_fail(PyDict_New());
    PyObject* type = created_score_type();

    const std::array<std::pair<std::string_view, const scorer::Score*>, 3> entries = {{
        {"rouge1", &scores.rouge1},
        {"rouge2", &scores.rouge2},
        {"rougeL", &scores.rougeL},
    }};
    for (const auto& [name, value] : entries) {
        boundary::Result<boundary::PyRef> score = new_score(type, *value);
        if (!score) return std::move(score).take_error();
        boundary::PyRef key = new_ascii_string(name);
        if (PyDict_SetItem(dict.get(), key.get(), score.value().get()) < 0) return boundary::PyErr::fetch();
    }
    return dict;
}

PyObject* score_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary::boundary_object([&] { return score_body(args, nargs, kwnames); });
}

}  // namespace tallygrams::module
