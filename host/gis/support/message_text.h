#pragma once

// Outside text (names, queries, connection strings) as messages and terminals show it:
// bounded, so that a megabyte of name makes no megabyte of message, and with the
// characters that would act on a terminal or reorder a line escaped.

#include <cstddef>
#include <string>
#include <string_view>

#include "forms/printable_text.h"

namespace selvane::gis {

using forms::Printable;

/// Printable(text), and when longer than `limit` bytes its middle left out (at character
/// boundaries) with how much was left out.
std::string InMessage(std::string_view text, std::size_t limit = 300);

}  // namespace selvane::gis
