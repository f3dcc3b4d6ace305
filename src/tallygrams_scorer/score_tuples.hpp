// Score and AggregateScore: named tuples, so that they compare equal to the
// peer's own, unpack, index and pickle like them.
#pragma once

#include <initializer_list>
#include <span>

#include "boundary/py_err.hpp"
#include "scorer/score_arithmetic.hpp"
#include "tallygrams_scorer/module_state.hpp"

namespace tallygrams::companion {

// Creates both classes for a new module object and stores them in `state`.
boundary::Status create_score_classes(ModuleState& state);

// collections.namedtuple(name, fields, module="tallygrams_scorer"), with
// `doc` as its docstring.
boundary::Result<boundary::PyRef> make_named_tuple_class(const char* name, std::initializer_list<const char*> fields,
                                                         const char* doc);

// A new instance of the named-tuple class `cls` holding `items` (new
// references are taken of each).
boundary::Result<boundary::PyRef> new_named_tuple(PyObject* cls, std::span<PyObject* const> items);

// A new Score.
boundary::Result<boundary::PyRef> new_score(const ModuleState& state, const scorer::Score& score);

}  // namespace tallygrams::companion
