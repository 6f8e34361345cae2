// Operations on the window or gadget behind a number, carried out on the UI thread.
#pragma once

#include "gadgets.h"
#include "runtime/object_registry.h"
#include "ui_objects.h"
#include "ui_thread.h"
#include "window.h"

// Runs operation on the gadget behind number on the UI thread; fallback for no gadget.
template <typename Result, typename Operation>
Result OnGadget(ObjectNumber number, Result fallback, Operation operation) {
  return ui_thread::Call<Result>(fallback, [=]() mutable -> Result {
    Gadget* gadget = ui_objects::FindGadget(number);
    return gadget ? operation(*gadget) : fallback;
  });
}

template <typename Operation>
void OnGadget(ObjectNumber number, Operation operation) {
  ui_thread::Run([=]() mutable {
    if (Gadget* gadget = ui_objects::FindGadget(number)) operation(*gadget);
  });
}

// The same for the window behind number.
template <typename Operation>
void OnWindow(ObjectNumber number, Operation operation) {
  ui_thread::Run([=]() mutable {
    if (TopLevelWindow* window = ui_objects::FindWindow(number)) operation(*window);
  });
}
