// For tests of the layers above the toolkit: the Qt widgets behind window and gadget
// numbers, to press keys on, drop files on and measure. Product code goes through ui.h.
// UI thread only.
#pragma once

#include "runtime/object_registry.h"

class QWidget;

// The window's widget, or null for an unknown number.
QWidget* UiWindowWidget(ObjectNumber window);

// The gadget's widget, or null for an unknown number.
QWidget* UiGadgetWidget(ObjectNumber gadget);
