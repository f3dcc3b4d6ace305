// The interpreter reads a callable's __text_signature__ from the first lines
// of its docstring: "name(parameters)\n--\n\n". These checks, run at compile
// time, keep that line in step with the parameters the binder accepts.
#pragma once

#include <string_view>

#include "boundary/arguments.hpp"

namespace tallygrams::boundary {

namespace detail {

constexpr bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace detail

// `name` is the name as the docstring spells it (a method's bare name, a
// class's name for its constructor). A method's line starts with "$self, ";
// a default is written "=value"; keyword-only parameters follow "*, ".
constexpr bool doc_matches_signature(std::string_view name, const Signature& signature, std::string_view doc) {
    using detail::starts_with;
    if (!starts_with(doc, name)) return false;
    doc.remove_prefix(name.size());
    if (!starts_with(doc, "(")) return false;
    doc.remove_prefix(1);
    if (signature.method) {
        if (!starts_with(doc, "$self")) return false;
        doc.remove_prefix(5);
        if (signature.count() > 0) {
            if (!starts_with(doc, ", ")) return false;
            doc.remove_prefix(2);
        }
    }
    for (size_t k = 0; k < signature.count(); ++k) {
        if (k > 0) {
            if (!starts_with(doc, ", ")) return false;
            doc.remove_prefix(2);
        }
        if (k == signature.keyword_only_from) {
            if (!starts_with(doc, "*, ")) return false;
            doc.remove_prefix(3);
        }
        if (!starts_with(doc, signature.parameters[k].name)) return false;
        doc.remove_prefix(signature.parameters[k].name.size());
        const bool has_default = starts_with(doc, "=");
        if (has_default != (k >= signature.required)) return false;
        if (has_default) doc = doc.substr(doc.find_first_of(",)"));
    }
    return starts_with(doc, ")\n--\n\n");
}

}  // namespace tallygrams::boundary
