#pragma once
#include <cstddef>
#include <optional>

// The row that a navigation key (Up, Down, Page Up, Page Down, Home, End, as Qt::Key values)
// moves the current row of a list of `rows` rows to, from `current`, with `page` rows to a page;
// nothing for any other key.
std::optional<std::size_t> navigationTarget(int key, std::size_t current, std::size_t rows,
                                            std::size_t page);
