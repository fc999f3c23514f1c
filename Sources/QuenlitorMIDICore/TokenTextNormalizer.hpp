#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Puts text that is about to reach the clipboard into the one spelling the Quenlitor Keyboard
// font's ligatures expect. Pure functions over constant tables: no state, callable from any
// thread at once. Texts are UTF-8; each ill-formed byte sequence of the input (each maximal
// subpart, as the Unicode standard recommends) becomes one U+FFFD, so nothing is dropped
// silently. Every input yields a text; an input over `maximumInputBytes` throws
// std::length_error, like a std::string that would outgrow its limit.
namespace quenlitor::TokenTextNormalizer {

// Far beyond any title or token, and small enough that every intermediate text stays within the
// 32-bit lengths of ICU's strings.
inline constexpr std::size_t maximumInputBytes = std::size_t{1} << 26;

// The canonical form of a whole token: an optional title between U+0022 quotation marks followed
// by notes. Only the title gets the chord-symbol rewrites and trimming; the rest keeps its
// characters after `canonical`.
std::string token(std::string_view text);

// The canonical form of a title: `canonical`, then `chordText`, then every U+0022 becomes an
// apostrophe (a title never contains the character that delimits it in a token), then leading
// and trailing whitespace and newlines are trimmed.
std::string title(std::string_view text);

namespace detail {

// The stage both share: invisible code points dropped, each whitespace or newline code point made
// one space (runs are kept), Normalization Form C, then the typographic variants of the font's
// glyphs (∆ △ º Ø ♭ ♯ “ ’ …) replaced by the spellings it knows.
std::string canonical(std::string_view text);

// The chord-quality symbols written out: Δ → maj (Δ9 maj9, Δ7 and Δ alone maj7), ø → m…(b5),
// ° → dim.
std::string chordText(std::string_view text);

// U+0009..U+000D, U+0020, U+0085 and the general categories Zs, Zl and Zp.
bool isWhitespaceOrNewline(char32_t codePoint);

// The invisible code points that are dropped wherever they occur: zero width space, non-joiner
// and joiner, word joiner, the byte order mark and variation selectors 15 and 16.
bool isRemoved(char32_t codePoint);

} // namespace detail

} // namespace quenlitor::TokenTextNormalizer
