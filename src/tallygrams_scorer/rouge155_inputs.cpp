#include "tallygrams_scorer/rouge155_inputs.hpp"

#include <utility>

#include "boundary/arguments.hpp"
#include "boundary/py_ref.hpp"

namespace tallygrams::companion {

namespace {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Status;

bool is_single_text(PyObject* object) {
    return PyUnicode_Check(object) || PyBytes_Check(object) || PyByteArray_Check(object);
}

// The items of a sequence (not a str or bytes) as a tuple: a copy of a
// list, so that Python code run while the items are read (a nested
// sequence's __iter__) cannot shrink or refill it under the loop that reads
// it, nor free the items it holds.
boundary::Result<PyRef> items_of(PyObject* object, const std::string& where, const char* what) {
    if (is_single_text(object)) {
        return PyErr::new_message(PyExc_TypeError, where + " must be " + what + ", not " + Py_TYPE(object)->tp_name);
    }
    PyRef items(PySequence_Tuple(object));
    if (!items) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return PyErr::fetch();
        PyErr_Clear();
        return PyErr::new_message(PyExc_TypeError, where + " must be " + what + ", not " + Py_TYPE(object)->tp_name);
    }
    return items;
}

// One text's bytes: str as UTF-8, bytes and bytearray as they are.
boundary::Result<std::string_view> text_bytes(PyObject* object) {
    if (PyBytes_Check(object)) {
        return std::string_view(PyBytes_AS_STRING(object), static_cast<size_t>(PyBytes_GET_SIZE(object)));
    }
    if (PyByteArray_Check(object)) {
        return std::string_view(PyByteArray_AS_STRING(object), static_cast<size_t>(PyByteArray_GET_SIZE(object)));
    }
    return boundary::extract_text(object);
}

}  // namespace

size_t Rouge155Texts::add_text(std::string_view text) {
    const size_t offset = bytes_.size();
    bytes_.append(text);
    return offset;
}

std::string Rouge155Texts::Place::name() const {
    std::string out = std::string(list) + "[" + std::to_string(item) + "]";
    if (reference >= 0) out += "[" + std::to_string(reference) + "]";
    return out;
}

Status Rouge155Texts::add_summary(PyObject* summary, const Place& place) {
    if (is_single_text(summary)) {
        boundary::Result<std::string_view> text = text_bytes(summary);
        if (!text) return boundary::add_note("while reading " + place.name(), std::move(text).take_error());
        add_text(text.value());
        return boundary::Unit{};
    }
    const std::string where = place.name();
    boundary::Result<PyRef> sentences = items_of(summary, where, "a str, bytes or a sequence of sentences");
    if (!sentences) return std::move(sentences).take_error();
    PyObject** items = PySequence_Fast_ITEMS(sentences.value().get());
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(sentences.value().get());
    for (Py_ssize_t k = 0; k < count; ++k) {
        const std::string place = where + "[" + std::to_string(k) + "]";
        if (!is_single_text(items[k])) {
            return PyErr::new_message(PyExc_TypeError, place + " must be a sentence (str or bytes), not " +
                                                           Py_TYPE(items[k])->tp_name);
        }
        boundary::Result<std::string_view> text = text_bytes(items[k]);
        if (!text) return boundary::add_note("while reading " + place, std::move(text).take_error());
        add_text(text.value());
        bytes_.push_back('\n');
    }
    return boundary::Unit{};
}

Status Rouge155Texts::read(PyObject* predictions, PyObject* references) {
    boundary::Result<PyRef> predicted = items_of(predictions, "predictions", "a sequence of summaries");
    if (!predicted) return std::move(predicted).take_error();
    boundary::Result<PyRef> referenced = items_of(references, "references", "a sequence of references");
    if (!referenced) return std::move(referenced).take_error();
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(predicted.value().get());
    if (PySequence_Fast_GET_SIZE(referenced.value().get()) != n) {
        return PyErr::new_message(PyExc_ValueError,
                                  "predictions and references differ in length: " + std::to_string(n) + " and " +
                                      std::to_string(PySequence_Fast_GET_SIZE(referenced.value().get())));
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        const size_t start = bytes_.size();
        if (Status s = add_summary(PySequence_Fast_GET_ITEM(predicted.value().get(), i), Place{"predictions", i}); !s) {
            return s;
        }
        predictions_.emplace_back(start, bytes_.size() - start);

        PyObject* item = PySequence_Fast_GET_ITEM(referenced.value().get(), i);
        PyRef several;
        if (!is_single_text(item)) {
            const std::string item_place = Place{"references", i}.name();
            boundary::Result<PyRef> list = items_of(item, item_place, "a reference or a sequence of references");
            if (!list) return std::move(list).take_error();
            several = std::move(list).take_value();
            if (PySequence_Fast_GET_SIZE(several.get()) == 0) {
                return PyErr::new_message(PyExc_ValueError, item_place + " holds no reference");
            }
        }
        const Py_ssize_t count = several ? PySequence_Fast_GET_SIZE(several.get()) : 1;
        for (Py_ssize_t r = 0; r < count; ++r) {
            const size_t reference_start = bytes_.size();
            PyObject* reference = several ? PySequence_Fast_GET_ITEM(several.get(), r) : item;
            if (Status s = add_summary(reference, Place{"references", i, several ? r : -1}); !s) return s;
            references_.emplace_back(reference_start, bytes_.size() - reference_start);
        }
        first_reference_.push_back(references_.size());
    }
    return boundary::Unit{};
}

engine::Rouge155Pairs Rouge155Texts::pairs() {
    prediction_views_.clear();
    reference_views_.clear();
    for (const auto& [offset, size] : predictions_) prediction_views_.emplace_back(bytes_.data() + offset, size);
    for (const auto& [offset, size] : references_) reference_views_.emplace_back(bytes_.data() + offset, size);
    return engine::Rouge155Pairs{prediction_views_, reference_views_, first_reference_};
}

}  // namespace tallygrams::companion
