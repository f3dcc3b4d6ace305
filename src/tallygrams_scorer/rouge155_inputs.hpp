// The summaries of a rouge155 call, copied out of their Python objects as
// the bytes of the files the script would read, so that the scoring runs
// without the interpreter lock.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "boundary/py_err.hpp"
#include "boundary/python.hpp"
#include "engine/rouge155/evaluation.hpp"

namespace tallygrams::companion {

class Rouge155Texts {
public:
    // predictions: a sequence of summaries. references: a sequence as long,
    // each item one summary (str or bytes) or a sequence of summaries. A
    // summary is a str (UTF-8 encoded), bytes taken as they are, or a
    // sequence of sentences, one line each.
    boundary::Status read(PyObject* predictions, PyObject* references);

    // Views of the texts read; valid while this object lives unchanged.
    engine::Rouge155Pairs pairs();

    // Where a summary came from, named only when an error needs it:
    // "predictions[i]", "references[i]" or "references[i][r]".
    struct Place {
        const char* list;
        Py_ssize_t item;
        Py_ssize_t reference = -1;
        std::string name() const;
    };

private:
    boundary::Status add_summary(PyObject* summary, const Place& place);
    size_t add_text(std::string_view text);

    std::string bytes_;
    std::vector<std::pair<size_t, size_t>> predictions_;  // offset and size in bytes_
    std::vector<std::pair<size_t, size_t>> references_;
    std::vector<size_t> first_reference_{0};
    std::vector<std::string_view> prediction_views_;
    std::vector<std::string_view> reference_views_;
};

}  // namespace tallygrams::companion
