#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tallygrams/batch_runner.hpp"

namespace {

using namespace tallygrams;
using engine::ColumnOutput;
using batch::OwnedStrings;
using batch::RecordOutput;
using engine::WorkerPool;

struct Batch {
    std::vector<std::string> references, predictions;

    OwnedStrings copy(const std::vector<std::string>& texts) const {
        OwnedStrings out;
        for (const auto& t : texts) out.append(t);
        return out;
    }
};

Batch make_batch(size_t n, uint64_t seed) {
    std::mt19937_64 rng(seed);
    const char* words[] = {"the", "cat", "sat", "on", "mat", "A", "b", "x1", "Dog", "ran"};
    auto text = [&] {
        std::string s;
        for (size_t k = rng() % 40; k > 0; --k) {
            s += words[rng() % 10];
            s += ' ';
        }
        return s;
    };
    Batch batch;
    for (size_t i = 0; i < n; ++i) {
        batch.references.push_back(text());
        batch.predictions.push_back(text());
    }
    return batch;
}

bool same_bits(const scorer::PairScores& a, const scorer::PairScores& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct RunnerCase {
    size_t workers;
    size_t pairs;
};

class RunnerTable : public testing::TestWithParam<RunnerCase> {};

TEST_P(RunnerTable, RecordsAndColumnsEqualSequentialScoringInOrder) {
    const auto [workers, n] = GetParam();
    WorkerPool pool(workers);
    const Batch batch = make_batch(n, n * 31 + workers);

    OwnedStrings refs = batch.copy(batch.references), preds = batch.copy(batch.predictions);
    RecordOutput records(n);
    batch::run_batch(pool, refs, preds, records);
    ASSERT_EQ(records.length(), n);
    EXPECT_EQ(refs.allocated_bytes() + preds.allocated_bytes(), 0u) << "scored strings must be freed";

    OwnedStrings refs2 = batch.copy(batch.references), preds2 = batch.copy(batch.predictions);
    ColumnOutput columns(n);
    batch::run_batch(pool, refs2, preds2, columns);
    std::vector<ColumnOutput::Column> taken;
    for (size_t k = 0; k < ColumnOutput::kColumnCount; ++k) taken.push_back(columns.take_column(k));

    for (size_t i = 0; i < n; ++i) {
        const auto expected = scorer::score_pair(batch.references[i], batch.predictions[i]);
        ASSERT_TRUE(same_bits(records[i], expected)) << "pair " << i;
        const double* values = &expected.rouge1.precision;
        for (size_t k = 0; k < ColumnOutput::kColumnCount; ++k) {
            ASSERT_EQ(std::memcmp(&taken[k][i], &values[k], 8), 0) << "pair " << i << " column " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RunnerTable,
                         testing::Values(RunnerCase{1, 0}, RunnerCase{2, 0}, RunnerCase{2, 1}, RunnerCase{1, 2},
                                         RunnerCase{2, 2}, RunnerCase{7, 3}, RunnerCase{1, 1000},
                                         RunnerCase{2, 1000}, RunnerCase{7, 1000}, RunnerCase{7, 4099}));

// Fails at one chosen pair, the way a broken invariant in the core would.
struct FailAt {
    size_t failing_length;  // the reference length that triggers the failure
    scorer::PairScores operator()(std::string_view reference, std::string_view prediction) const {
        ensure(reference.size() != failing_length, "injected failure");
        return scorer::score_pair(reference, prediction);
    }
};

TEST(BatchRunner, FailureInsideParallelWorkReachesTheCallerAndPoolSurvives) {
    for (size_t workers : {1, 2, 7}) {
        WorkerPool pool(workers);
        for (size_t failing : {0ul, 499ul, 999ul}) {
            Batch batch = make_batch(1000, 7);
            batch.references[failing] = std::string(123457, 'z');
            OwnedStrings refs = batch.copy(batch.references), preds = batch.copy(batch.predictions);
            ColumnOutput columns(1000);
            EXPECT_THROW(batch::run_batch(pool, refs, preds, columns, FailAt{123457}), InternalFailure);
        }
        // The same pool keeps serving.
        const Batch batch = make_batch(500, 9);
        OwnedStrings refs = batch.copy(batch.references), preds = batch.copy(batch.predictions);
        RecordOutput records(500);
        batch::run_batch(pool, refs, preds, records);
        EXPECT_EQ(records.length(), 500u);
    }
}

// Fails at every pair whose reference has one of the chosen lengths.
struct FailAtAny {
    std::vector<size_t> failing_lengths;
    scorer::PairScores operator()(std::string_view reference, std::string_view prediction) const {
        for (size_t length : failing_lengths) ensure(reference.size() != length, "injected failure");
        return scorer::score_pair(reference, prediction);
    }
};

// Several leaves failing at once, on different workers. Every string left
// unscored is freed with its array (the sanitizer build's leak check sees
// any that is not), and afterwards the pool serves several submitters at once.
TEST(BatchRunner, SimultaneousFailuresLeaveThePoolServingConcurrentCallers) {
    WorkerPool pool(4);
    for (int round = 0; round < 20; ++round) {
        Batch batch = make_batch(2000, 100 + round);
        const std::vector<size_t> failing_pairs = {3, 700, 1001, 1999};
        for (size_t i = 0; i < failing_pairs.size(); ++i) batch.references[failing_pairs[i]] = std::string(200003 + i, 'q');
        OwnedStrings refs = batch.copy(batch.references), preds = batch.copy(batch.predictions);
        RecordOutput records(2000);
        EXPECT_THROW(batch::run_batch(pool, refs, preds, records, FailAtAny{{200003, 200004, 200005, 200006}}),
                     InternalFailure);
        EXPECT_EQ(records.length(), 0u) << "a failed run reports no records";
        EXPECT_GT(refs.allocated_bytes(), 0u) << "the failing pairs' strings were never consumed";
    }
    std::vector<std::thread> callers;
    std::atomic<int> correct{0};
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&, t] {
            const Batch batch = make_batch(700, 50 + t);
            OwnedStrings refs = batch.copy(batch.references), preds = batch.copy(batch.predictions);
            RecordOutput records(700);
            batch::run_batch(pool, refs, preds, records);
            bool all_same = records.length() == 700;
            for (size_t i = 0; all_same && i < 700; ++i) {
                all_same = same_bits(records[i], scorer::score_pair(batch.references[i], batch.predictions[i]));
            }
            if (all_same) ++correct;
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(correct.load(), 3);
}

// Records which threads scored pairs.
struct RecordingThreads {
    std::mutex* mutex;
    std::set<std::thread::id>* threads;
    scorer::PairScores operator()(std::string_view reference, std::string_view prediction) const {
        {
            std::lock_guard<std::mutex> lock(*mutex);
            threads->insert(std::this_thread::get_id());
        }
        return scorer::score_pair(reference, prediction);
    }
};

// The same pairs scored as one large batch (on the workers) and as many
// small ones (on the calling thread), decided by their bytes: bit for bit
// the same.
TEST(BatchRunner, SmallBatchesRunOnTheCallingThreadWithTheSameResults) {
    WorkerPool pool(3);
    const Batch batch = make_batch(3000, 21);
    std::mutex mutex;

    std::set<std::thread::id> large_threads;
    OwnedStrings refs = batch.copy(batch.references), preds = batch.copy(batch.predictions);
    ASSERT_GE(refs.total_bytes() + preds.total_bytes(), batch::kInlineBatchBytes);
    RecordOutput whole(3000);
    batch::run_batch(pool, refs, preds, whole, RecordingThreads{&mutex, &large_threads});
    EXPECT_EQ(large_threads.count(std::this_thread::get_id()), 0u) << "a large batch runs on the workers";

    std::set<std::thread::id> small_threads;
    constexpr size_t kPiece = 10;
    for (size_t first = 0; first < 3000; first += kPiece) {
        const Batch piece{{batch.references.begin() + first, batch.references.begin() + first + kPiece},
                          {batch.predictions.begin() + first, batch.predictions.begin() + first + kPiece}};
        OwnedStrings piece_refs = piece.copy(piece.references), piece_preds = piece.copy(piece.predictions);
        ASSERT_LT(piece_refs.total_bytes() + piece_preds.total_bytes(), batch::kInlineBatchBytes);
        RecordOutput records(kPiece);
        batch::run_batch(pool, piece_refs, piece_preds, records, RecordingThreads{&mutex, &small_threads});
        ASSERT_EQ(records.length(), kPiece);
        for (size_t i = 0; i < kPiece; ++i) ASSERT_TRUE(same_bits(records[i], whole[first + i])) << first + i;
    }
    EXPECT_EQ(small_threads, std::set<std::thread::id>{std::this_thread::get_id()});

    // Many pairs but few bytes: still the calling thread.
    std::set<std::thread::id> few_bytes_threads;
    OwnedStrings tiny_refs, tiny_preds;
    for (int i = 0; i < 2000; ++i) {
        tiny_refs.append(i % 2 ? "a b" : "b");
        tiny_preds.append("a");
    }
    ColumnOutput columns(2000);
    batch::run_batch(pool, tiny_refs, tiny_preds, columns, RecordingThreads{&mutex, &few_bytes_threads});
    EXPECT_EQ(few_bytes_threads, std::set<std::thread::id>{std::this_thread::get_id()});
}

TEST(BatchRunner, MismatchedLengthsAreAnInternalFailure) {
    WorkerPool pool(1);
    OwnedStrings refs, preds;
    refs.append("a");
    RecordOutput records(1);
    EXPECT_THROW(batch::run_batch(pool, refs, preds, records), InternalFailure);
}

}  // namespace
