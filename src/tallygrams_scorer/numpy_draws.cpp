#include "tallygrams_scorer/numpy_draws.hpp"

#include <algorithm>
#include <string>

#include "boundary/memory_request.hpp"
#include "boundary/new_object.hpp"
#include "boundary/pool_access.hpp"
#include "boundary/run_interruptible.hpp"
#include "engine/range_runner.hpp"
#include "tallygrams_scorer/resample_means.hpp"

namespace tallygrams::companion {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

Result<PyRef> import_numpy_random() {
    PyRef module(PyImport_ImportModule("numpy.random"));
    if (module) return module;
    if (!PyErr_ExceptionMatches(PyExc_ImportError)) return PyErr::fetch();
    PyErr_Clear();
    return PyErr::new_message(PyExc_ImportError,
                              "BootstrapAggregator draws its resamples with NumPy's random generator, as "
                              "rouge-score does, and NumPy cannot be imported; install numpy");
}

Result<PyRef> numpy_float64() {
    PyRef numpy(PyImport_ImportModule("numpy"));
    if (!numpy) return PyErr::fetch();
    PyRef type(PyObject_GetAttrString(numpy.get(), "float64"));
    if (!type) return PyErr::fetch();
    return type;
}

Result<PyRef> numpy_randint(PyObject* numpy_random, std::optional<uint64_t> seed) {
    if (!seed) {
        PyRef randint(PyObject_GetAttrString(numpy_random, "randint"));
        if (!randint) return PyErr::fetch();
        return randint;
    }
    PyRef state(PyObject_CallMethod(numpy_random, "RandomState", "K", static_cast<unsigned long long>(*seed)));
    if (!state) return PyErr::fetch();
    PyRef randint(PyObject_GetAttrString(state.get(), "randint"));
    if (!randint) return PyErr::fetch();
    return randint;
}

namespace {

// At most this many drawn indices are held at once.
constexpr size_t kIndicesPerChunk = size_t{1} << 22;

// A C-contiguous int64 view of what randint returned.
class IndexBuffer {
public:
    ~IndexBuffer() {
        if (view_.obj != nullptr) PyBuffer_Release(&view_);
    }
    boundary::Status acquire(PyObject* array, size_t expected) {
        if (PyObject_GetBuffer(array, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) return PyErr::fetch();
        const std::string_view format = view_.format == nullptr ? "B" : view_.format;
        const bool int64 = view_.itemsize == 8 && (format == "l" || format == "q" || format == "<q" || format == "<l");
        if (!int64 || static_cast<size_t>(view_.len) != expected * 8) {
            return PyErr::new_message(PyExc_TypeError, "numpy.random.randint returned an unexpected array");
        }
        return boundary::Unit{};
    }
    const int64_t* data() const noexcept { return static_cast<const int64_t*>(view_.buf); }

private:
    Py_buffer view_{};
};

}  // namespace

boundary::Status check_resample_memory(size_t samples, size_t width) {
    // A product past what an array can hold would wrap to a short one.
    if (samples > std::vector<double>().max_size() / width) {
        return PyErr::new_message(PyExc_ValueError, "n_samples is too large for scores of " +
                                                        std::to_string(width) + " values");
    }
    // The means, and one measure's means at a time to sort (aggregate_intervals.hpp).
    const size_t bytes = engine::memory_product(engine::memory_product(samples, width + 1), sizeof(double));
    return boundary::check_memory_request(bytes, "the resampled means of scores of " + std::to_string(width) +
                                                     (width == 1 ? " value, " : " values, ") + std::to_string(samples) +
                                                     " resamples,");
}

Result<std::vector<double>> resampled_means(std::span<const double> values, size_t width, size_t samples,
                                            PyObject* randint) {
    const size_t n = values.size() / width;
    const size_t per_chunk = std::max<size_t>(1, std::min(samples, kIndicesPerChunk / n));
    Result<engine::WorkerPool*> pool = boundary::worker_pool();
    if (!pool) return std::move(pool).take_error();
    std::vector<double> means(samples * width);
    PyRef low = boundary::new_object_or_fail(PyLong_FromLong(0));
    PyRef high = boundary::new_object_or_fail(PyLong_FromSize_t(n));
    for (size_t first = 0; first < samples; first += per_chunk) {
        const size_t count = std::min(per_chunk, samples - first);
        PyRef shape = boundary::new_object_or_fail(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(count),
                                                                 static_cast<Py_ssize_t>(n)));
        PyRef kwargs = boundary::new_object_or_fail(PyDict_New());
        if (PyDict_SetItemString(kwargs.get(), "size", shape.get()) < 0) return PyErr::fetch();
        PyRef args = boundary::new_object_or_fail(PyTuple_Pack(2, low.get(), high.get()));
        PyRef drawn(PyObject_Call(randint, args.get(), kwargs.get()));
        if (!drawn) return PyErr::fetch();
        IndexBuffer indices;
        if (boundary::Status s = indices.acquire(drawn.get(), count * n); !s) return std::move(s).take_error();
        // numpy.random.randint is looked up where the caller can replace it.
        for (size_t k = 0; k < count * n; ++k) {
            if (indices.data()[k] < 0 || static_cast<size_t>(indices.data()[k]) >= n) {
                return PyErr::new_message(PyExc_ValueError, "numpy.random.randint returned an index out of range");
            }
        }
        Result<size_t> done = boundary::run_interruptible([&](engine::Interruption& interruption) {
            return engine::run_ranges(*pool.value(), count, [&](size_t start, size_t end) {
                for (size_t s = start; s < end; ++s) {
                    if (interruption.stopped()) return s - start;
                    resample_means(values, width, {indices.data() + s * n, n},
                                   means.data() + (first + s) * width);
                }
                return end - start;
            }, &interruption);
        });
        if (!done) return std::move(done).take_error();
        if (PyErr_CheckSignals() < 0) return PyErr::fetch();
    }
    return means;
}

}  // namespace tallygrams::companion
