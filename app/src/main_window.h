// The main window: its three tabs and their gadgets, the shortcut table and the options
// list. The evaluation request reads the options by the item numbers below.
#pragma once

#include <cstdint>

namespace evaluator {

// Items of the options list: the two process choices, then one item per compile flag,
// whose item data is the flag.
inline constexpr std::int64_t ProcessMatchesItem = 0;
inline constexpr std::int64_t ProcessGroupsItem = 1;
inline constexpr std::int64_t FirstFlagItem = 2;

// On the UI thread at start-up: names the program to the desktop, opens the window with
// its gadgets, binds the shortcuts, lets the input field take dropped files and fills the
// options list.
void BuildMainWindow();

// On the UI thread: fits the panel to the window's client area and places every tab's
// gadgets in its columns again (after the window changed its size).
void LayOutWindow();
// The gadget that takes gadget's column: the tree shares its column with the input view in
// a splitter, which the layout sizes for both.
std::int64_t ColumnHolder(std::int64_t gadget);

}  // namespace evaluator
