#include "tallygrams/extraction.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/pool/global_pool.hpp"
#include "tallygrams/parallel_copy.hpp"
#include "boundary/arguments.hpp"
#include "common/internal_failure.hpp"
#include "common/stable_texts.hpp"

namespace tallygrams::batch {
namespace {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

// A length report is only a hint; an absurd one must not allocate absurdly.
constexpr Py_ssize_t kLargestReservation = Py_ssize_t{1} << 22;

// The abstract class a batch argument must be an instance of, as the type
// error names it. The name is all the message needs, so the class is never
// looked up: importing collections.abc from inside a call would run Python
// code (import hooks, audit hooks) in the middle of the call, and a child
// forked while another thread was importing it would wait forever on that
// thread's import lock.
constexpr const char* kSequenceName = "Sequence";

// Plain lists and tuples, by far the common arguments, are read straight
// from their item arrays: no Python code can run while they are read, so the
// result and every error are exactly those of iterating them. The strings
// are laid out first and their bytes copied afterwards, still under the
// interpreter lock and still within this call, by this thread and by any
// idle pool workers: the copy is the part of a batch that no worker could
// otherwise share, so its speed bounds what the workers can gain. A short
// sequence is copied as it is read, since no helper would pay for itself.
boundary::Result<batch::OwnedStrings> copy_list_or_tuple(PyObject* object) {
    constexpr Py_ssize_t kPrefetchDistance = 8;
    constexpr Py_ssize_t kCopiedAlone = static_cast<Py_ssize_t>(batch::kItemsCopiedAlone);
    batch::OwnedStrings strings;
    std::vector<batch::CopyItem> copies;
    boundary::PyRef not_a_string;
    bool encoding_failed = false;
    Py_BEGIN_CRITICAL_SECTION(object);  // free-threaded builds: no concurrent change
    PyObject** items = PySequence_Fast_ITEMS(object);
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(object);
    const bool deferred = count > kCopiedAlone;
    strings.reserve(static_cast<size_t>(std::min(count, kLargestReservation)));
    if (deferred) copies.reserve(static_cast<size_t>(std::min(count, kLargestReservation)));
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i + kPrefetchDistance < count) __builtin_prefetch(items[i + kPrefetchDistance]);
        PyObject* item = items[i];
        if (!PyType_HasFeature(Py_TYPE(item), Py_TPFLAGS_UNICODE_SUBCLASS)) {
            not_a_string = boundary::PyRef::borrow(item);
            break;
        }
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
        if (utf8 == nullptr) {
            encoding_failed = true;
            break;
        }
        const auto length = static_cast<size_t>(size);
        char* destination = strings.append_uninitialized(length);
        if (length == 0) continue;  // an empty string has no storage
        if (deferred) {
            copies.push_back(batch::CopyItem{utf8, destination, length});
        } else {
            std::memcpy(destination, utf8, length);
        }
    }
    // The item arrays stay unchanged meanwhile: this thread holds the lock
    // (and, on free-threaded builds, the sequence's critical section) and
    // runs no Python code until every byte is copied.
    if (deferred && !not_a_string && !encoding_failed) {
        batch::copy_in_parallel(std::move(copies), engine::global_pool_if_created());
    }
    Py_END_CRITICAL_SECTION();
    if (not_a_string) return boundary::type_mismatch(not_a_string.get(), "str");
    if (encoding_failed) return boundary::PyErr::fetch();
    return strings;
}

boundary::Result<batch::OwnedStrings> copy_sequence(PyObject* object) {
    if (PyType_HasFeature(Py_TYPE(object), Py_TPFLAGS_UNICODE_SUBCLASS)) {
        // A lone string is never taken as a sequence of characters.
        return boundary::PyErr::new_message(PyExc_TypeError, stable::kLoneStrBatch);
    }
    if (!PySequence_Check(object)) return boundary::type_mismatch(object, kSequenceName);
    if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) return copy_list_or_tuple(object);

    batch::OwnedStrings strings;
    strings.warm_pages_with(engine::global_pool_if_created());
    const Py_ssize_t hint = PyObject_Size(object);
    if (hint < 0) {
        [[maybe_unused]] boundary::PyErr discarded = boundary::PyErr::fetch();
    } else {
        strings.reserve(static_cast<size_t>(std::min(hint, kLargestReservation)));
    }

    boundary::PyRef iterator(PyObject_GetIter(object));
    if (!iterator) return boundary::PyErr::fetch();
    for (;;) {
        PyObject* next = nullptr;
        const int status = PyIter_NextItem(iterator.get(), &next);
        if (status < 0) return boundary::PyErr::fetch();
        if (status == 0) break;
        const boundary::PyRef item(next);
        boundary::Result<std::string_view> text = boundary::extract_text(item.get());
        if (!text) return std::move(text).take_error();
        strings.append(text.value());
    }
    strings.warm_pages_with(nullptr);
    return strings;
}

}  // namespace

boundary::Result<batch::OwnedStrings> extract_string_sequence(PyObject* object, std::string_view argument_name) {
    boundary::Result<batch::OwnedStrings> strings = copy_sequence(object);
    if (!strings) return boundary::annotate_argument_error(argument_name, std::move(strings).take_error());
    return strings;
}

}  // namespace tallygrams::batch
