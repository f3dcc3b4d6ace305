// The process-wide locks of native code, caught by fork() while another
// thread holds them: the lock that keeps diagnostics whole, and the creation
// of the worker pool. Each case runs in a child process of its own, and every
// process it waits for is killed after a timeout, so a hang fails the test.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "boundary/diagnostics.hpp"
#include "engine/pool/global_pool.hpp"
#include "tallygrams/batch_runner.hpp"

namespace tallygrams {
namespace {

using namespace std::chrono_literals;

// The exit code of `pid`, or nothing if it had to be killed after `limit`.
std::optional<int> wait_for(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(1ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return std::nullopt;
}

// Runs `body` in a child process and returns its exit code (nothing if it
// hung): gtest's own state stays out of the way of the forks inside.
template <class Body>
std::optional<int> in_child_process(Body body, std::chrono::milliseconds limit = 60s) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return wait_for(pid, limit);
}

// True once thread `tid` of this process sits in write(2) on `fd`
// (/proc/self/task/<tid>/syscall starts with the call's number, then its
// first argument).
bool blocked_writing(pid_t tid, int fd) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    std::string first_argument;
    file >> number >> first_argument;
    return number == SYS_write && first_argument == "0x" + std::to_string(fd);
}

int null_descriptor() { return ::open("/dev/null", O_WRONLY); }

TEST(ForkSafety, ChildWritesDiagnosticsWhileAnotherThreadOfTheParentWasInTheMiddleOfOne) {
    const std::optional<int> outcome = in_child_process([] {
        // Standard error becomes a pipe that nobody reads, full to the brim.
        int pipe_ends[2];
        if (::pipe(pipe_ends) != 0) return 10;
        ::fcntl(pipe_ends[1], F_SETFL, O_NONBLOCK);
        const std::string chunk(65536, 'x');
        while (::write(pipe_ends[1], chunk.data(), chunk.size()) > 0) {
        }
        ::fcntl(pipe_ends[1], F_SETFL, 0);
        ::dup2(pipe_ends[1], 2);

        std::atomic<pid_t> writer_tid{0};
        std::atomic<bool> written{false};
        std::thread writer([&] {
            writer_tid = static_cast<pid_t>(::syscall(SYS_gettid));
            boundary::write_to_stderr("a diagnostic that does not fit\n");
            written = true;
        });
        while (writer_tid == 0 || !blocked_writing(writer_tid, 2)) std::this_thread::sleep_for(1ms);

        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(null_descriptor(), 2);
            boundary::write_to_stderr("the child's own diagnostic\n");
            ::_exit(0);
        }
        const std::optional<int> status = wait_for(child, 10s);
        // Let the writer finish, then report.
        ::fcntl(pipe_ends[0], F_SETFL, O_NONBLOCK);
        char sink[65536];
        while (!written) {
            if (::read(pipe_ends[0], sink, sizeof sink) <= 0) std::this_thread::sleep_for(1ms);
        }
        writer.join();
        return status ? *status : 20;
    });
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(*outcome, 0) << "20: the child hung";
}

// A batch of a few pairs on the global pool; 0 if every value is right.
int score_small_batch() {
    batch::OwnedStrings references;
    batch::OwnedStrings predictions;
    for (int i = 0; i < 64; ++i) {
        references.append("a b c");
        predictions.append("a b");
    }
    engine::ColumnOutput columns(64);
    batch::run_batch(engine::global_pool(), references, predictions, columns);
    for (size_t i = 0; i < 64; ++i) {
        if (columns.column(1)[i] != 2.0 / 3.0) return 1;
    }
    return 0;
}

#if defined(__SANITIZE_ADDRESS__)
#define TALLYGRAMS_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALLYGRAMS_ADDRESS_SANITIZER 1
#endif
#endif

TEST(ForkSafety, ChildCreatesItsPoolWhileAnotherThreadOfTheParentWasCreatingOne) {
#ifdef TALLYGRAMS_ADDRESS_SANITIZER
    GTEST_SKIP() << "clang 14's AddressSanitizer allocator may be forked while a starting worker holds its lock";
#endif
    // Many workers make the creation long; each round is a fresh process
    // whose first batch races a fork.
    ::setenv("RAYON_NUM_THREADS", "48", 1);
    for (int round = 0; round < 20; ++round) {
        const std::optional<int> outcome = in_child_process([round] {
            std::thread creator([] { (void)score_small_batch(); });
            std::this_thread::sleep_for(std::chrono::microseconds(round * 150));
            const pid_t child = ::fork();
            if (child == 0) ::_exit(score_small_batch());
            const std::optional<int> status = wait_for(child, 20s);
            creator.join();
            return status ? *status : 20;
        });
        ASSERT_TRUE(outcome.has_value()) << "round " << round;
        ASSERT_EQ(*outcome, 0) << "round " << round << " (20: the child hung)";
    }
    ::unsetenv("RAYON_NUM_THREADS");
}

}  // namespace
}  // namespace tallygrams
