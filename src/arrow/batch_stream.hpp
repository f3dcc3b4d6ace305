// Several result batches handed back as one Arrow C stream
// (__arrow_c_stream__), in order.
#pragma once

#include <vector>

#include "arrow/c_data_interface.hpp"
#include "arrow/float64_batch.hpp"

namespace tallygrams::arrow {

// Fills `out` with a stream that yields `batches` in order, then the end.
// There must be at least one batch (an empty one is fine: the stream's
// schema comes from the first), and all must have the same columns. The
// stream shares the batches' buffers like any other export; it lets go of
// each batch once it has yielded it. A callback that fails for want of
// memory returns ENOMEM and describes the failure in get_last_error.
void export_stream(std::vector<Float64Batch> batches, ArrowArrayStream* out);

}  // namespace tallygrams::arrow
