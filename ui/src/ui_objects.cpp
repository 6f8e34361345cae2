#include "ui_objects.h"

#include <QPointer>
#include <QVariant>
#include <atomic>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "window.h"

namespace ui_objects {
namespace {

constexpr std::int32_t WindowGrowthStep = 16;
constexpr std::int32_t GadgetGrowthStep = 50;

// A record's first word is the owned object, so it is non-zero exactly while alive.
template <typename Object>
struct OwnerRecord {
  Object* object;
};
using WindowRecord = OwnerRecord<TopLevelWindow>;
using GadgetRecord = OwnerRecord<Gadget>;

ObjectTable* windowTable = nullptr;
ObjectTable* gadgetTable = nullptr;
std::once_flag tablesCreated;

std::mutex treeRowsLock;
std::unordered_map<ObjectNumber, std::shared_ptr<TreeShared>> treeRows;
// Counts the registry's changes, so that a remembered lookup knows when it is out of date.
std::atomic<std::uint64_t> treeRowsChanges{0};

struct RememberedTreeRows {
  ObjectNumber number = 0;
  std::uint64_t changes = 0;
  std::shared_ptr<TreeShared> rows;
};
thread_local RememberedTreeRows rememberedTreeRows;

void FreeGadget(ObjectNumber number) {
  if (number == AnyHandle) return FreeAllObjects(gadgetTable);
  auto* record = static_cast<GadgetRecord*>(LookupObject(gadgetTable, number));
  if (!record) return;
  std::unique_ptr<Gadget> gadget(record->object);
  ReleaseObject(gadgetTable, number);
}

// A window takes its gadgets with it, so that no gadget number outlives its widget.
void FreeGadgetsOf(TopLevelWindow* window) {
  std::vector<ObjectNumber> owned;
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    const QVariant number = widget->property(GadgetNumberProperty);
    if (number.isValid()) owned.push_back(number.toLongLong());
  }
  for (ObjectNumber number : owned) FreeGadget(number);
}

void FreeWindow(ObjectNumber number) {
  if (number == AnyHandle) return FreeAllObjects(windowTable);
  auto* record = static_cast<WindowRecord*>(LookupObject(windowTable, number));
  if (!record) return;
  FreeGadgetsOf(record->object);
  std::unique_ptr<TopLevelWindow> window(record->object);
  ReleaseObject(windowTable, number);
}

void CreateTablesOnce() {
  windowTable = CreateObjectTable(sizeof(WindowRecord), WindowGrowthStep, FreeWindow);
  gadgetTable = CreateObjectTable(sizeof(GadgetRecord), GadgetGrowthStep, FreeGadget);
}

// The registry's calling pattern: allocate, make, fill; a failed make leaves no object.
template <typename Object>
ObjectNumber AddObject(ObjectTable* table, ObjectNumber number,
                       const std::function<std::unique_ptr<Object>(ObjectNumber)>& make) {
  auto* record = static_cast<OwnerRecord<Object>*>(AllocateObject(table, number));
  if (!record) return 0;
  const ObjectNumber known = number == AnyHandle ? HandleOf(record) : number;
  std::unique_ptr<Object> object = make(known);
  if (!object) {
    ReleaseObject(table, known);
    return 0;
  }
  record->object = object.release();
  return HandleOf(record);
}

}  // namespace

void CreateTables() { RunOnce(tablesCreated, CreateTablesOnce); }

void FreeAll() {
  if (gadgetTable) FreeAllObjects(gadgetTable);
  if (windowTable) FreeAllObjects(windowTable);
  gadget_list::Reset();
}

ObjectNumber AddWindow(ObjectNumber number,
                       const std::function<std::unique_ptr<TopLevelWindow>(ObjectNumber)>& make) {
  return AddObject<TopLevelWindow>(windowTable, number, make);
}

ObjectNumber AddGadget(ObjectNumber number,
                       const std::function<std::unique_ptr<Gadget>(ObjectNumber)>& make) {
  return AddObject<Gadget>(gadgetTable, number, make);
}

TopLevelWindow* FindWindow(ObjectNumber number) {
  auto* record = static_cast<WindowRecord*>(LookupObject(windowTable, number));
  return record ? record->object : nullptr;
}

Gadget* FindGadget(ObjectNumber number) {
  auto* record = static_cast<GadgetRecord*>(LookupObject(gadgetTable, number));
  return record ? record->object : nullptr;
}

std::shared_ptr<TreeShared> FindTreeRows(ObjectNumber number) {
  std::lock_guard guard(treeRowsLock);
  auto found = treeRows.find(number);
  return found == treeRows.end() ? nullptr : found->second;
}

const std::shared_ptr<TreeShared>& FindTreeRowsRemembered(ObjectNumber number) {
  RememberedTreeRows& remembered = rememberedTreeRows;
  const std::uint64_t changes = treeRowsChanges.load(std::memory_order_acquire);
  if (remembered.number != number || remembered.changes != changes) {
    remembered.rows = FindTreeRows(number);
    remembered.number = number;
    remembered.changes = changes;
  }
  return remembered.rows;
}

void RegisterTreeRows(ObjectNumber number, std::shared_ptr<TreeShared> rows) {
  std::lock_guard guard(treeRowsLock);
  treeRows[number] = std::move(rows);
  treeRowsChanges.fetch_add(1, std::memory_order_release);
}

void UnregisterTreeRows(ObjectNumber number) {
  std::lock_guard guard(treeRowsLock);
  treeRows.erase(number);
  treeRowsChanges.fetch_add(1, std::memory_order_release);
}

}  // namespace ui_objects

namespace gadget_list {
namespace {

struct Level {
  ObjectNumber panel;  // AnyHandle for the window's own level
  QPointer<QWidget> parent;
};

ObjectNumber currentWindow = 0;
std::vector<Level> levels;

}  // namespace

void StartWindow(ObjectNumber window, QWidget* client) {
  currentWindow = window;
  levels.assign(1, Level{AnyHandle, client});
}

GadgetPlace Current() {
  // A panel without tabs yet has no parent to offer; its gadgets go one level up.
  for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
    if (level->parent) return {currentWindow, level->parent.data()};
  }
  return {currentWindow, nullptr};
}

void OpenPanel(ObjectNumber panel) {
  if (!levels.empty()) levels.push_back(Level{panel, nullptr});
}

void TabAdded(ObjectNumber panel, QWidget* page) {
  if (!levels.empty() && levels.back().panel == panel) levels.back().parent = page;
}

void Close() {
  if (levels.size() > 1) levels.pop_back();
}

void Reset() {
  levels.clear();
  currentWindow = 0;
}

}  // namespace gadget_list
