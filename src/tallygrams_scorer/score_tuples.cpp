#include "tallygrams_scorer/score_tuples.hpp"

#include <array>
#include <string>

#include "boundary/new_object.hpp"

namespace tallygrams::companion {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

namespace {

constexpr const char* kScoreDoc =
    "Score(precision, recall, fmeasure)\n\n"
    "One ROUGE type's precision, recall and F-measure: a named tuple, equal to\n"
    "any tuple of the same three values.";
constexpr const char* kAggregateDoc =
    "AggregateScore(low, mid, high)\n\n"
    "The bootstrap interval of each measure: three Scores holding, measure by\n"
    "measure, the lower percentile, the median and the upper percentile of the\n"
    "resampled means.";

}  // namespace

Result<PyRef> make_named_tuple_class(const char* name, std::initializer_list<const char*> fields, const char* doc) {
    PyRef collections(PyImport_ImportModule("collections"));
    if (!collections) return PyErr::fetch();
    PyRef factory(PyObject_GetAttrString(collections.get(), "namedtuple"));
    if (!factory) return PyErr::fetch();
    PyRef field_list = boundary::new_object_or_fail(PyList_New(0));
    for (const char* field : fields) {
        PyRef text = boundary::new_object_or_fail(PyUnicode_FromString(field));
        if (PyList_Append(field_list.get(), text.get()) < 0) return PyErr::fetch();
    }
    PyRef type_name = boundary::new_object_or_fail(PyUnicode_FromString(name));
    PyRef args = boundary::new_object_or_fail(PyTuple_Pack(2, type_name.get(), field_list.get()));
    PyRef kwargs = boundary::new_object_or_fail(PyDict_New());
    PyRef module_name = boundary::new_object_or_fail(PyUnicode_FromString("tallygrams_scorer"));
    if (PyDict_SetItemString(kwargs.get(), "module", module_name.get()) < 0) return PyErr::fetch();
    PyRef cls(PyObject_Call(factory.get(), args.get(), kwargs.get()));
    if (!cls) return PyErr::fetch();
    // new_named_tuple writes instances as plain tuples; anything else (a
    // replaced collections.namedtuple, say) is refused here.
    auto* type = reinterpret_cast<PyTypeObject*>(cls.get());
    if (!PyType_Check(cls.get()) || !PyType_IsSubtype(type, &PyTuple_Type) ||
        type->tp_basicsize != PyTuple_Type.tp_basicsize || type->tp_itemsize != PyTuple_Type.tp_itemsize) {
        return PyErr::new_message(PyExc_TypeError,
                                  std::string("collections.namedtuple did not make a plain tuple class for ") + name);
    }
    PyRef doc_text = boundary::new_object_or_fail(PyUnicode_FromString(doc));
    if (PyObject_SetAttrString(cls.get(), "__doc__", doc_text.get()) < 0) return PyErr::fetch();
    return cls;
}

boundary::Status create_score_classes(ModuleState& state) {
    Result<PyRef> score = make_named_tuple_class("Score", {"precision", "recall", "fmeasure"}, kScoreDoc);
    if (!score) return std::move(score).take_error();
    Result<PyRef> aggregate = make_named_tuple_class("AggregateScore", {"low", "mid", "high"}, kAggregateDoc);
    if (!aggregate) return std::move(aggregate).take_error();
    state.score_class = std::move(score).take_value().release();
    state.aggregate_class = std::move(aggregate).take_value().release();
    return boundary::Unit{};
}

Result<PyRef> new_named_tuple(PyObject* cls, std::span<PyObject* const> items) {
    // What tuple.__new__(cls, items) does, minus the Python frame and the two
    // temporary tuples: a named-tuple class adds no fields (its __slots__ are
    // empty), so an instance is laid out exactly as a tuple.
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    const auto count = static_cast<Py_ssize_t>(items.size());
    PyRef instance = boundary::new_object_or_fail(type->tp_alloc(type, count));
    auto* tuple = reinterpret_cast<PyTupleObject*>(instance.get());
    tuple->ob_hash = -1;  // not yet computed
    bool holds_tracked = false;
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* item = items[static_cast<size_t>(k)];
        holds_tracked |= PyObject_GC_IsTracked(item) != 0;
        PyTuple_SET_ITEM(instance.get(), k, Py_NewRef(item));
    }
    // An immutable tuple of numbers can never be part of a cycle. The
    // collector lets go of such plain tuples by itself but never of a
    // subclass's, and a batch makes thousands: left tracked, they are
    // scanned by every collection for as long as the caller keeps them.
    if (!holds_tracked) PyObject_GC_UnTrack(instance.get());
    return instance;
}

Result<PyRef> new_score(const ModuleState& state, const scorer::Score& score) {
    PyRef precision = boundary::new_object_or_fail(PyFloat_FromDouble(score.precision));
    PyRef recall = boundary::new_object_or_fail(PyFloat_FromDouble(score.recall));
    PyRef fmeasure = boundary::new_object_or_fail(PyFloat_FromDouble(score.fmeasure));
    const std::array<PyObject*, 3> items = {precision.get(), recall.get(), fmeasure.get()};
    return new_named_tuple(state.score_class, items);
}

}  // namespace tallygrams::companion
