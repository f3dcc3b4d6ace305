// Sole ownership of interface structures: taken over, moved and handed on
// without ever being released twice or forgotten.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "arrow/owned.hpp"
#include "oracles/arrow_fixtures.hpp"

namespace {

using namespace arrow_fixtures;
using tallygrams::arrow::OwnedArray;
using tallygrams::arrow::OwnedSchema;

TEST(ArrowOwned, ReleasesExactlyOnceWhereverTheStructureMoves) {
    Releases releases;
    ArrowArray exported = text_array({"a"}, TextType::kString, releases);
    {
        OwnedArray first = OwnedArray::take(&exported);
        EXPECT_EQ(exported.release, nullptr) << "the source is marked released";
        OwnedArray second = std::move(first);
        EXPECT_TRUE(first.released());
        std::vector<OwnedArray> many;
        many.push_back(std::move(second));
        for (int i = 0; i < 100; ++i) many.emplace_back();  // reallocates: moves again
        OwnedArray* self = &many.front();
        *self = std::move(*self);
        EXPECT_FALSE(many.front().released());
        EXPECT_EQ(releases.arrays, 0);
    }
    EXPECT_EQ(releases.arrays, 1);
}

TEST(ArrowOwned, AssigningOverAHeldStructureReleasesIt) {
    Releases releases;
    ArrowArray a = text_array({"a"}, TextType::kString, releases);
    ArrowArray b = text_array({"b"}, TextType::kString, releases);
    OwnedArray held = OwnedArray::take(&a);
    held = OwnedArray::take(&b);
    EXPECT_EQ(releases.arrays, 1);
    held.fill();  // releases b, leaves a zeroed structure for a producer
    EXPECT_EQ(releases.arrays, 2);
    EXPECT_TRUE(held.released());
}

TEST(ArrowOwned, HandingOnAndForgettingReleaseNothing) {
    Releases releases;
    ArrowSchema schema = text_schema(TextType::kString, releases);
    OwnedSchema held = OwnedSchema::take(&schema);
    ArrowSchema destination{};
    held.move_to(&destination);
    EXPECT_TRUE(held.released());
    EXPECT_EQ(releases.schemas, 0);
    // A failed producer callback may leave anything behind: it is dropped,
    // not released.
    OwnedSchema garbage;
    *garbage.fill() = destination;
    garbage.forget();
    EXPECT_EQ(releases.schemas, 0);
    destination.release(&destination);
    EXPECT_EQ(releases.schemas, 1);
}

}  // namespace
