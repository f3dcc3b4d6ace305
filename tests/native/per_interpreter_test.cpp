// Per-interpreter objects (boundary/per_interpreter.hpp) in an embedded
// interpreter: one object per interpreter, released with it; threads racing
// for the first use agree on one object; a fork while another thread is in
// the middle of a creation; a creation that calls back into itself.
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "boundary/call_boundary.hpp"
#include "boundary/panic.hpp"
#include "boundary/per_interpreter.hpp"

namespace tallygrams::boundary {
namespace {

using namespace std::chrono_literals;

std::atomic<int> probes_made{0};
std::atomic<int> probes_released{0};

void count_release(PyObject* /*capsule*/) { ++probes_released; }

// A Python object whose end is counted.
Result<PyRef> new_probe() {
    static int target = 0;
    PyObject* probe = PyCapsule_New(&target, "probe", count_release);
    if (probe == nullptr) return PyErr::fetch();
    ++probes_made;
    return PyRef(probe);
}

// Waits with the interpreter lock released, as a creation that ran Python
// code (which may release the lock) could.
template <class Done>
void wait_detached(Done done) {
    Py_BEGIN_ALLOW_THREADS
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    Py_END_ALLOW_THREADS
}

class Probe final : public PerInterpreterObject {
public:
    using PerInterpreterObject::PerInterpreterObject;

private:
    Result<PyRef> create() override { return new_probe(); }
};

// Creations that wait, with the lock released, until both racers are in.
class RacedProbe final : public PerInterpreterObject {
public:
    using PerInterpreterObject::PerInterpreterObject;
    std::atomic<int> inside{0};

private:
    Result<PyRef> create() override {
        ++inside;
        wait_detached([this] { return inside >= 2; });
        return new_probe();
    }
};

// In the parent process, a creation that waits until released.
class HeldProbe final : public PerInterpreterObject {
public:
    using PerInterpreterObject::PerInterpreterObject;
    pid_t holding_process = 0;
    std::atomic<bool> inside{false};
    std::atomic<bool> released{false};

private:
    Result<PyRef> create() override {
        if (::getpid() == holding_process) {
            inside = true;
            wait_detached([this] { return released.load(); });
        }
        return new_probe();
    }
};

// A creation that runs Python code: `callback`, if set.
class CallingBackProbe final : public PerInterpreterObject {
public:
    using PerInterpreterObject::PerInterpreterObject;
    PyObject* callback = nullptr;

private:
    Result<PyRef> create() override {
        if (callback != nullptr) {
            PyRef outcome(PyObject_CallNoArgs(callback));
            if (!outcome) return PyErr::fetch();
        }
        return new_probe();
    }
};

Probe plain_probe("the plain probe");
RacedProbe raced_probe("the raced probe");
HeldProbe held_probe("the held probe");
CallingBackProbe calling_back_probe("the probe that calls back");

// What a module function would do: the object, through the call boundary.
PyObject* get_calling_back_probe(PyObject* /*self*/, PyObject* /*unused*/) {
    return boundary_object([]() -> Result<PyRef> {
        Result<PyObject*> probe = calling_back_probe.get();
        if (!probe) return std::move(probe).take_error();
        return PyRef::borrow(probe.value());
    });
}
PyMethodDef get_calling_back_definition = {"get_probe", get_calling_back_probe, METH_NOARGS, nullptr};

PyObject* must_get(PerInterpreterObject& object) {
    Result<PyObject*> got = object.get();
    if (!got) {
        std::move(got).take_error().restore();
        PyErr_Print();
        return nullptr;
    }
    return got.value();
}

// Runs `body` in a new interpreter on this thread, then ends it.
template <class Body>
void in_subinterpreter(bool own_gil, Body body) {
    PyInterpreterConfig config = {
        .use_main_obmalloc = own_gil ? 0 : 1,
        .allow_fork = 0,
        .allow_exec = 0,
        .allow_threads = 1,
        .allow_daemon_threads = 0,
        .check_multi_interp_extensions = own_gil ? 1 : 0,
        .gil = own_gil ? PyInterpreterConfig_OWN_GIL : PyInterpreterConfig_SHARED_GIL,
    };
    PyThreadState* main_state = PyThreadState_Get();
    PyThreadState_Swap(nullptr);
    PyThreadState* sub_state = nullptr;
    const PyStatus status = Py_NewInterpreterFromConfig(&sub_state, &config);
    ASSERT_FALSE(PyStatus_Exception(status));
    body();
    Py_EndInterpreter(sub_state);
    PyThreadState_Swap(main_state);
}

class PerInterpreter : public ::testing::TestWithParam<bool> {};

TEST_P(PerInterpreter, EachInterpreterHasItsOwnObjectUntilItEnds) {
    PyObject* in_main = must_get(plain_probe);
    ASSERT_NE(in_main, nullptr);
    EXPECT_EQ(must_get(plain_probe), in_main);
    const int released_before = probes_released;

    PyObject* in_sub = nullptr;
    in_subinterpreter(GetParam(), [&] {
        in_sub = must_get(plain_probe);
        EXPECT_EQ(must_get(plain_probe), in_sub);
        // Its panic type is its own too.
        EXPECT_NE(panic_exception_type(), nullptr);
    });
    EXPECT_NE(in_sub, in_main);
    EXPECT_EQ(probes_released, released_before + 1) << "the subinterpreter's object outlived it";
    // Back in the main interpreter, on the same thread, the main one's.
    EXPECT_EQ(must_get(plain_probe), in_main);
}

INSTANTIATE_TEST_SUITE_P(OwnAndSharedGil, PerInterpreter, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "OwnGil" : "SharedGil"; });

TEST(PerInterpreterObject, ThreadsRacingForTheFirstUseAgreeOnOneObject) {
    const int made_before = probes_made;
    const int released_before = probes_released;
    PyObject* seen[2] = {nullptr, nullptr};
    Py_BEGIN_ALLOW_THREADS
    std::thread racers[2];
    for (int k = 0; k < 2; ++k) {
        racers[k] = std::thread([&seen, k] {
            PyGILState_STATE state = PyGILState_Ensure();
            seen[k] = must_get(raced_probe);
            PyGILState_Release(state);
        });
    }
    for (std::thread& racer : racers) racer.join();
    Py_END_ALLOW_THREADS
    ASSERT_NE(seen[0], nullptr);
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(probes_made, made_before + 2) << "both racers were meant to create one";
    EXPECT_EQ(probes_released, released_before + 1) << "the losing object was not released";
}

TEST(PerInterpreterObject, ForkWhileAnotherThreadIsCreatingLeavesTheChildFreeToCreate) {
    held_probe.holding_process = ::getpid();
    std::thread creator;
    Py_BEGIN_ALLOW_THREADS
    creator = std::thread([] {
        PyGILState_STATE state = PyGILState_Ensure();
        (void)must_get(held_probe);
        PyGILState_Release(state);
    });
    while (!held_probe.inside) std::this_thread::sleep_for(1ms);
    Py_END_ALLOW_THREADS

    PyOS_BeforeFork();
    const pid_t child = ::fork();
    if (child == 0) {
        PyOS_AfterFork_Child();
        ::_exit(must_get(held_probe) != nullptr ? 0 : 1);
    }
    PyOS_AfterFork_Parent();
    std::optional<int> status;
    Py_BEGIN_ALLOW_THREADS
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!status && std::chrono::steady_clock::now() < deadline) {
        int raw = 0;
        if (::waitpid(child, &raw, WNOHANG) == child) status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        std::this_thread::sleep_for(1ms);
    }
    if (!status) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    held_probe.released = true;
    creator.join();
    Py_END_ALLOW_THREADS
    ASSERT_TRUE(status.has_value()) << "the child waited for a creation of a thread it does not have";
    EXPECT_EQ(*status, 0);
}

TEST(PerInterpreterObject, CreationThatNeedsItselfRaisesPanicException) {
    PyObject* callback = PyCFunction_New(&get_calling_back_definition, nullptr);
    ASSERT_NE(callback, nullptr);
    calling_back_probe.callback = callback;
    // The failure's diagnostics go to descriptor 2: keep the output clean.
    fflush(stderr);
    const int kept_stderr = ::dup(2);
    ::dup2(::open("/dev/null", O_WRONLY), 2);
    PyRun_SimpleString("import io, sys; sys.stderr = io.StringIO()");
    PyObject* outcome = get_calling_back_probe(nullptr, nullptr);
    PyRef raised(PyErr_GetRaisedException());
    PyRun_SimpleString("sys.stderr = sys.__stderr__");
    ::dup2(kept_stderr, 2);
    ::close(kept_stderr);

    EXPECT_EQ(outcome, nullptr);
    ASSERT_TRUE(raised);
    EXPECT_EQ(reinterpret_cast<PyObject*>(Py_TYPE(raised.get())), panic_exception_type());
    PyRef text(PyObject_Str(raised.get()));
    ASSERT_TRUE(text);
    const std::string message = PyUnicode_AsUTF8(text.get());
    EXPECT_NE(message.find("re-entrant creation of the probe that calls back"), std::string::npos) << message;

    // Nothing was left behind: without the call back, it is created.
    calling_back_probe.callback = nullptr;
    Py_DECREF(callback);
    EXPECT_NE(must_get(calling_back_probe), nullptr);
}

}  // namespace
}  // namespace tallygrams::boundary

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    Py_InitializeEx(0);
    const int result = RUN_ALL_TESTS();
    return Py_FinalizeEx() < 0 ? 1 : result;
}
