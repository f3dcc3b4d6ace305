#include "tallygrams/score_function.hpp"

#include <string_view>

#include "boundary/run_detached.hpp"
#include "scorer/pair_scorer.hpp"
#include "tallygrams/score_type.hpp"

namespace tallygrams::module {
namespace {

using boundary::PyRef;
using boundary::Result;

Result<PyRef> score_body(PyObject* /*module*/, const boundary::BoundArguments& arguments) {
    Result<std::string_view> reference = arguments.get<boundary::Text>(0);
    if (!reference) return std::move(reference).take_error();
    Result<std::string_view> prediction = arguments.get<boundary::Text>(1);
    if (!prediction) return std::move(prediction).take_error();

    // The views stay valid with the lock released: the caller's references
    // keep both str objects alive, and str objects never change.
    const scorer::PairScores scores =
        boundary::run_detached([&] { return scorer::score_pair(reference.value(), prediction.value()); });
    return pair_scores_to_dict(score_type_or_fail(), scores);
}

}  // namespace

constexpr boundary::ModuleFunction kScoreFunction{
    .signature = {.function_name = "score",
                  .parameters = {{"reference", &boundary::kText}, {"prediction", &boundary::kText}},
                  .required = 2},
    .doc = "score(reference, prediction)\n--\n\n"
           "Score one reference/prediction pair with ROUGE-1, ROUGE-2, and ROUGE-L.\n\n"
           "Returns a dict mapping metric names to read-only Score objects. Empty\n"
           "token sequences produce zero scores. The native computation releases the GIL.",
    .body = score_body,
};
static_assert(boundary::doc_matches_signature(kScoreFunction));

}  // namespace tallygrams::module
