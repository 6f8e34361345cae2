#include "ui/widget_seam.h"

#include "gadgets.h"
#include "ui_objects.h"
#include "window.h"

QWidget* UiWindowWidget(ObjectNumber window) { return ui_objects::FindWindow(window); }

QWidget* UiGadgetWidget(ObjectNumber gadget) {
  Gadget* found = ui_objects::FindGadget(gadget);
  return found ? found->Widget() : nullptr;
}
