#include "tallygrams/score_type.hpp"

#include <cstddef>
#include <utility>

#include "boundary/call_boundary.hpp"
#include "boundary/heap_type.hpp"
#include "boundary/new_object.hpp"
#include "boundary/interned_name.hpp"

namespace tallygrams::module {
namespace {

using boundary::PyRef;
using boundary::Result;

struct ScoreObject {
    PyObject_HEAD
    scorer::Score value;
};

ScoreObject* as_score(PyObject* object) noexcept { return reinterpret_cast<ScoreObject*>(object); }

template <double scorer::Score::*Field>
PyObject* get_field(PyObject* self, void* /*closure*/) {
    return boundary::boundary_object([&]() -> Result<PyRef> {
        return boundary::new_object_or_fail(PyFloat_FromDouble(as_score(self)->value.*Field));
    });
}

void dealloc_score(PyObject* self) {
    boundary::boundary_dealloc([&] { boundary::free_heap_instance(self); });
}

PyGetSetDef score_getset[] = {
    {.name = "precision", .get = get_field<&scorer::Score::precision>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = "recall", .get = get_field<&scorer::Score::recall>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = "fmeasure", .get = get_field<&scorer::Score::fmeasure>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = nullptr, .get = nullptr, .set = nullptr, .doc = nullptr, .closure = nullptr},
};

PyType_Slot score_slots[] = {
    {Py_tp_doc, const_cast<char*>("Precision, recall, and F-measure values for one ROUGE metric.")},
    {Py_tp_getset, score_getset},
    {Py_tp_methods, boundary::not_picklable_methods},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_score)},
    {0, nullptr},
};

PyType_Spec score_type_definition = {
    .name = "tallygrams.Score",
    .basicsize = static_cast<int>(sizeof(ScoreObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = score_slots,
};

boundary::HeapTypeCell score_type_cell(score_type_definition, "Score");

// The metric names, reused as the keys of every dict: creating and hashing
// three new strings per scored pair cost more than building the dict itself.
boundary::InternedName metric_names[3] = {boundary::InternedName("rouge1"), boundary::InternedName("rouge2"),
                                          boundary::InternedName("rougeL")};

}  // namespace

Result<PyObject*> score_type() { return score_type_cell.get(); }

PyObject* score_type_or_fail() { return score_type_cell.get_or_fail(); }

Result<PyRef> new_score(PyObject* type, const scorer::Score& value) {
    Result<PyRef> instance = boundary::new_instance(type);
    if (instance) as_score(instance.value().get())->value = value;
    return instance;
}

Result<PyRef> pair_scores_to_dict(PyObject* type, const scorer::PairScores& scores) {
    PyRef dict = boundary::new_object_or_fail(PyDict_New());

    const scorer::Score* values[3] = {&scores.rouge1, &scores.rouge2, &scores.rougeL};
    for (size_t k = 0; k < 3; ++k) {
        Result<PyRef> score = new_score(type, *values[k]);
        if (!score) return std::move(score).take_error();
        Result<PyObject*> key = metric_names[k].get();
        if (!key) return std::move(key).take_error();
        if (PyDict_SetItem(dict.get(), key.value(), score.value().get()) < 0) return boundary::PyErr::fetch();
    }
    return dict;
}

}  // namespace tallygrams::module
