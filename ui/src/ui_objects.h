// The numbered windows and gadgets, and the gadget list that says where new gadgets go.
// UI thread only, except FindTreeRows.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "gadgets.h"
#include "runtime/object_registry.h"

class TopLevelWindow;

namespace ui_objects {

void CreateTables();  // once per process; later calls do nothing
void FreeAll();

// Stores the object under number (a static number or AnyHandle), freeing an older object
// of that number first. make receives the number the object is known by. The creating
// operation's result, or 0 when make gave nothing.
ObjectNumber AddWindow(ObjectNumber number,
                       const std::function<std::unique_ptr<TopLevelWindow>(ObjectNumber)>& make);
ObjectNumber AddGadget(ObjectNumber number,
                       const std::function<std::unique_ptr<Gadget>(ObjectNumber)>& make);

TopLevelWindow* FindWindow(ObjectNumber number);
Gadget* FindGadget(ObjectNumber number);
// Any thread: the rows of tree gadget number, or null.
std::shared_ptr<TreeShared> FindTreeRows(ObjectNumber number);
// The same for a thread that appends row after row: the answer is remembered per thread
// until the registry changes, which spares the registry's lock and a reference count per
// row. The reference stays valid until the thread's next call.
const std::shared_ptr<TreeShared>& FindTreeRowsRemembered(ObjectNumber number);
// Tree gadgets publish their rows here while they live.
void RegisterTreeRows(ObjectNumber number, std::shared_ptr<TreeShared> rows);
void UnregisterTreeRows(ObjectNumber number);

}  // namespace ui_objects

namespace gadget_list {

// Opening a window makes its client area the parent of the gadgets created next.
void StartWindow(ObjectNumber window, QWidget* client);
GadgetPlace Current();
// A new panel's list is open: its tabs, once added, take the gadgets created next.
void OpenPanel(ObjectNumber panel);
void TabAdded(ObjectNumber panel, QWidget* page);
// Gadgets created next go one level up again (into the window after a panel).
void Close();
void Reset();

}  // namespace gadget_list
