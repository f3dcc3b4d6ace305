#include "arrow/type_names.hpp"

#include <utility>

namespace tallygrams::arrow {

namespace {

// Formats that name a type on their own; the parameterised ones are matched
// by prefix below.
constexpr std::pair<std::string_view, std::string_view> kExactFormats[] = {
    {"n", "null"},
    {"b", "bool"},
    {"c", "int8"},
    {"C", "uint8"},
    {"s", "int16"},
    {"S", "uint16"},
    {"i", "int32"},
    {"I", "uint32"},
    {"l", "int64"},
    {"L", "uint64"},
    {"e", "float16"},
    {"f", "float32"},
    {"g", "float64"},
    {"z", "binary"},
    {"Z", "large_binary"},
    {"vz", "binary_view"},
    {"u", "string"},
    {"U", "large_string"},
    {"vu", "string_view"},
    {"tdD", "date32"},
    {"tdm", "date64"},
    {"tts", "time32[s]"},
    {"ttm", "time32[ms]"},
    {"ttu", "time64[us]"},
    {"ttn", "time64[ns]"},
    {"tDs", "duration[s]"},
    {"tDm", "duration[ms]"},
    {"tDu", "duration[us]"},
    {"tDn", "duration[ns]"},
    {"tiM", "interval[months]"},
    {"tiD", "interval[days, ms]"},
    {"tin", "interval[months, days, ns]"},
    {"+l", "list"},
    {"+L", "large_list"},
    {"+vl", "list_view"},
    {"+vL", "large_list_view"},
    {"+s", "struct"},
    {"+m", "map"},
    {"+r", "run_end_encoded"},
};

constexpr std::pair<std::string_view, std::string_view> kPrefixFormats[] = {
    {"tss:", "timestamp[s]"},
    {"tsm:", "timestamp[ms]"},
    {"tsu:", "timestamp[us]"},
    {"tsn:", "timestamp[ns]"},
    {"d:", "decimal"},
    {"w:", "fixed_size_binary"},
    {"+w:", "fixed_size_list"},
    {"+ud:", "dense_union"},
    {"+us:", "sparse_union"},
};

std::string_view type_name(std::string_view format) {
    for (const auto& [code, name] : kExactFormats) {
        if (format == code) return name;
    }
    for (const auto& [prefix, name] : kPrefixFormats) {
        if (format.starts_with(prefix)) return name;
    }
    return {};
}

// Format strings come from the producer: keep them printable and short.
std::string quoted(std::string_view format) {
    constexpr size_t kShown = 40;
    std::string out = "\"";
    for (const char c : format.substr(0, kShown)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
            out += c;
        } else {
            constexpr char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    if (format.size() > kShown) out += "...";
    out += '"';
    return out;
}

}  // namespace

std::string describe_format(std::string_view format) {
    const std::string_view name = type_name(format);
    if (name.empty()) return "format " + quoted(format);
    return std::string(name) + " (" + quoted(format) + ")";
}

std::string describe_type(const ArrowSchema& schema) {
    const std::string_view format = schema.format;
    if (schema.dictionary == nullptr) return describe_format(format);
    std::string values = "unknown";
    if (schema.dictionary->format != nullptr) {
        const std::string_view name = type_name(schema.dictionary->format);
        values = name.empty() ? quoted(schema.dictionary->format) : std::string(name);
    }
    const std::string_view indices = type_name(format);
    return "dictionary<values=" + values + ", indices=" + (indices.empty() ? quoted(format) : std::string(indices)) +
           ">";
}

}  // namespace tallygrams::arrow
