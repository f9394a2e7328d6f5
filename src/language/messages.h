#pragma once

// The fixed texts of the language front end. Code and tests cite them from
// here; the texts every subsystem shares are in base/messages.h.
#include <cstddef>
#include <string>
#include <string_view>

namespace tallo::messages {

// The number parser's description of a probability or threshold that the
// statement patterns admit but that is not written in ASCII decimal digits
// (the patterns' "\d" admits every Unicode decimal digit). A parse stops with
// `unwrap_err` of this text.
std::string_view invalid_float();

// "begin <= end ({} <= {}) when slicing `{}`": an atom whose parentheses are
// in an order that the statement patterns never produce.
std::string bad_slice(std::size_t begin, std::size_t end, std::string_view text);

// "invalid UTF-8 in model text at byte {}". Texts from the host are always
// valid UTF-8; this guards callers that hand in raw bytes.
std::string invalid_utf8(std::size_t at);

// "regular expression search failed: {}", with the engine's own message,
// for a search that exceeds the engine's match limits.
std::string regex_search_failed(std::string_view engine_message);

}  // namespace tallo::messages
