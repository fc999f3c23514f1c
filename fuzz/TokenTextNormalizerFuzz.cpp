// Any bytes, well-formed UTF-8 or not, give well-formed UTF-8 from `title` and `token`, never a
// code point of the removal set; a title never holds U+0022 nor starts or ends with whitespace;
// a token that does not open with a quotation mark is exactly its canonical text.
#include "FuzzSupport.hpp"
#include "TokenTextNormalizer.hpp"

#include <unicode/utf8.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace quenlitor;
using quenlitor::fuzz::check;

namespace {

// The code points of `text`; aborts on an ill-formed sequence.
std::vector<char32_t> codePoints(std::string_view text) {
    std::vector<char32_t> result;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    for (std::int32_t at = 0; at < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        check(c >= 0);
        result.push_back(static_cast<char32_t>(c));
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const std::vector<char32_t> title = codePoints(TokenTextNormalizer::title(input));
    for (const char32_t c : title) {
        check(c != U'"' && !TokenTextNormalizer::detail::isRemoved(c));
    }
    if (!title.empty()) {
        check(!TokenTextNormalizer::detail::isWhitespaceOrNewline(title.front()));
        check(!TokenTextNormalizer::detail::isWhitespaceOrNewline(title.back()));
    }

    const std::string token = TokenTextNormalizer::token(input);
    for (const char32_t c : codePoints(token)) {
        check(!TokenTextNormalizer::detail::isRemoved(c));
    }
    const std::string canonical = TokenTextNormalizer::detail::canonical(input);
    codePoints(canonical);
    if (canonical.empty() || canonical.front() != '"') {
        check(token == canonical);
    }
    return 0;
}
