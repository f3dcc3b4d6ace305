// Names of Arrow types for error messages, from the C interface's format
// strings: "int32", "binary", "dictionary<values=string, indices=int32>".
#pragma once

#include <string>
#include <string_view>

#include "arrow/c_data_interface.hpp"

namespace tallygrams::arrow {

// The type a format string stands for, followed by the format itself:
// `binary ("z")`. Unknown formats are shown as `format "..."`.
std::string describe_format(std::string_view format);

// The type of a schema node, including dictionary encoding. The node must
// have a format (not null).
std::string describe_type(const ArrowSchema& schema);

// The text types that a text column accepts, for messages.
inline constexpr std::string_view kAcceptedTextTypes =
    R"(string ("u"), large_string ("U") or string_view ("vu"))";

}  // namespace tallygrams::arrow
