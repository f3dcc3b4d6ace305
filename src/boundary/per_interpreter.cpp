#include "boundary/per_interpreter.hpp"

#include <cstdint>
#include <memory>
#include <string>

#include "boundary/new_object.hpp"
#include "common/internal_failure.hpp"

namespace tallygrams::boundary {
namespace {

// How many PerInterpreterObjects this shared object has. They register while
// the shared object is loaded, before any interpreter can use them; constant
// initialisation makes the count zero before the first of them.
size_t registered_objects = 0;

// One interpreter's objects, slot by slot. Only ever touched with a thread
// attached to that interpreter.
class InterpreterObjects {
public:
    explicit InterpreterObjects(size_t count)
        : cells_(std::make_unique<std::atomic<PyObject*>[]>(count)), count_(count) {}
    ~InterpreterObjects() {
        for (size_t k = count_; k-- > 0;) Py_XDECREF(cells_[k].exchange(nullptr, std::memory_order_acq_rel));
    }
    InterpreterObjects(const InterpreterObjects&) = delete;
    InterpreterObjects& operator=(const InterpreterObjects&) = delete;

    std::atomic<PyObject*>& cell(size_t slot) {
        ensure(slot < count_, "a per-interpreter object registered after its interpreter's table was made");
        return cells_[slot];
    }

private:
    std::unique_ptr<std::atomic<PyObject*>[]> cells_;
    size_t count_;
};

constexpr const char* kCapsuleName = "tallygrams.interpreter_objects";

// Bumped whenever an interpreter's table is released, so that no thread's
// cached pointer outlives the table it points to (see CachedLookup).
std::atomic<uint64_t> released_tables{0};

void release_table(PyObject* capsule) {
    auto* objects = static_cast<InterpreterObjects*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    if (objects == nullptr) {
        PyErr_WriteUnraisable(capsule);
        return;
    }
    released_tables.fetch_add(1, std::memory_order_acq_rel);
    delete objects;
}

// Its address names this shared object's entry in the interpreter dict: a
// second shared object linking this same code (the companion module, or
// another copy of this one) has its own table, laid out by its own code.
char table_anchor = 0;

// The dict key is made only on a cache miss: once per thread and interpreter.
Result<InterpreterObjects*> find_or_make_table(PyInterpreterState* interpreter) {
    PyObject* dict = PyInterpreterState_GetDict(interpreter);
    if (dict == nullptr) {
        return PyErr::new_message(PyExc_RuntimeError, "the interpreter has no dict for extension state");
    }
    PyRef key(PyUnicode_FromFormat("tallygrams interpreter objects %p", static_cast<const void*>(&table_anchor)));
    if (!key) return PyErr::fetch_as_is();

    PyObject* found = nullptr;
    const int present = PyDict_GetItemRef(dict, key.get(), &found);
    if (present < 0) return PyErr::fetch_as_is();
    if (present == 0) {
        auto made = std::make_unique<InterpreterObjects>(registered_objects);
        PyRef capsule(PyCapsule_New(made.get(), kCapsuleName, release_table));
        if (!capsule) return PyErr::fetch_as_is();
        made.release();  // the capsule owns it now
        // Another thread of this interpreter (free-threaded builds) may have
        // stored its table meanwhile: the first one stored wins, the other
        // is released with its capsule, unused.
        if (PyDict_SetDefaultRef(dict, key.get(), capsule.get(), &found) < 0) return PyErr::fetch_as_is();
    }
    PyRef entry(found);
    auto* objects = static_cast<InterpreterObjects*>(PyCapsule_GetPointer(entry.get(), kCapsuleName));
    if (objects == nullptr) return PyErr::fetch_as_is();
    // The interpreter dict keeps the capsule alive until the interpreter ends.
    return objects;
}

// The last table this thread used. A thread can run in several interpreters
// in turn (concurrent.interpreters runs code on the calling thread), so the
// entry names its interpreter by the interpreter's id, which is never reused
// while the runtime lives; an address could belong to a later interpreter.
// `released` guards against the one way an id does come back, a finalised
// and re-initialised runtime, by dropping the entry whenever any table has
// been released since it was made.
struct CachedLookup {
    int64_t interpreter_id = -1;
    uint64_t released = 0;
    InterpreterObjects* objects = nullptr;
};
thread_local constinit CachedLookup cached_lookup{};

Result<InterpreterObjects*> current_table() {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    const int64_t id = PyInterpreterState_GetID(interpreter);
    const uint64_t released = released_tables.load(std::memory_order_acquire);
    CachedLookup& cached = cached_lookup;
    if (cached.objects != nullptr && cached.interpreter_id == id && cached.released == released) {
        return cached.objects;
    }
    Result<InterpreterObjects*> table = find_or_make_table(interpreter);
    if (table) cached = CachedLookup{id, released, table.value()};
    return table;
}

// The creations under way on this thread, innermost first, each a frame on
// the stack of the thread that runs it. Being thread-local, nothing about
// them needs a lock, and a forked child, whose only thread is the one that
// forked, sees exactly the creations that thread had under way.
struct CreationInProgress {
    const std::atomic<PyObject*>* cell;
    const CreationInProgress* outer;
};
thread_local constinit const CreationInProgress* innermost_creation = nullptr;

}  // namespace

PerInterpreterObject::PerInterpreterObject(const char* description) noexcept
    : description_(description), slot_(registered_objects++) {}

Result<PyObject*> PerInterpreterObject::get() {
    Result<InterpreterObjects*> table = current_table();
    if (!table) return std::move(table).take_error();
    std::atomic<PyObject*>& cell = table.value()->cell(slot_);
    if (PyObject* existing = cell.load(std::memory_order_acquire)) return existing;
    return create_into(cell);
}

PyObject* PerInterpreterObject::get_or_fail(std::source_location where) {
    Result<PyObject*> object = get();
    if (!object) {
        std::move(object).take_error().restore();
        PyErr_WriteUnraisable(nullptr);
        fail_internally(std::string("failed to create ") + description_, where);
    }
    return object.value();
}

// No lock: a thread that finds the cell empty creates the object itself and
// offers it; the first offer wins and every other is released unused. So no
// thread ever waits for another, nothing can be held across fork(), and on
// free-threaded builds the cell is the only shared state, an atomic.
Result<PyObject*> PerInterpreterObject::create_into(std::atomic<PyObject*>& cell) {
    for (const CreationInProgress* frame = innermost_creation; frame != nullptr; frame = frame->outer) {
        if (frame->cell == &cell) {
            // Python code run by the creation called back into the module on
            // this thread and needs the very object being created. Creating
            // it again would recurse without end.
            fail_internally(std::string("re-entrant creation of ") + description_ +
                            ": Python code run while it was being created called back into the module, "
                            "on the same thread, and needed it");
        }
    }
    const CreationInProgress frame{&cell, innermost_creation};
    innermost_creation = &frame;
    struct PopOnExit {
        const CreationInProgress& frame;
        ~PopOnExit() { innermost_creation = frame.outer; }
    } pop{frame};

    Result<PyRef> created = create();
    if (!created) return std::move(created).take_error();
    PyObject* offered = created.value().get();
    PyObject* winner = nullptr;
    if (cell.compare_exchange_strong(winner, offered, std::memory_order_acq_rel, std::memory_order_acquire)) {
        return std::move(created).take_value().release();  // the table holds the reference now
    }
    return winner;  // `created` releases the object that lost
}

}  // namespace tallygrams::boundary
