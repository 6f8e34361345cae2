// The toolkit layer: one window, a tabbed panel, labels, text fields, a check-box list, a
// tree, buttons, keyboard shortcuts, the event wait, message boxes, file choosers, the
// clipboard and launching programs. Windows and gadgets are numbered objects; positions
// and sizes are logical units (device-independent pixels). No Qt type appears here.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/object_registry.h"
#include "runtime/text_encoding.h"

inline constexpr std::int64_t UiIgnore = -65535;  // let the toolkit choose this value

// Event codes returned by UiWaitEvent.
inline constexpr int GadgetEvent = 13100;
inline constexpr int MenuEvent = 13101;
inline constexpr int CloseEvent = 13116;
// A file was dropped on a gadget that takes files (UiEnableFileDrop): the event object is
// the gadget, the data word the file's path (zero-terminated UTF-16, readable until the
// next event is taken).
inline constexpr int FileDropEvent = 13103;
// The window's client size changed (resized, maximised, restored): the event object is the
// window. Gadgets keep their place until the program places them again.
inline constexpr int SizeWindowEvent = 13106;
// A window timer went off (UiAddWindowTimer): the event object is the timer number. A tick
// is not queued behind the same tick still waiting at the end of the queue.
inline constexpr int TimerEvent = 13112;
// The selection of a tree or an input view changed, by the user or through UiSetState or
// UiSetViewSelection: the event object is the gadget. Changes in a row merge into one event.
inline constexpr int SelectionEvent = 13104;
// Returned by the UiWaitEvent call during which a posted event arrived; the posted event
// itself comes with the next call. Below UserEventBase and none of the codes above.
inline constexpr int UiPostedEventNotice = 0xC000;

// Shortcut word modifiers, added to the key code (letters are their upper-case codes).
inline constexpr std::int64_t ShiftKey = 0x10000;
inline constexpr std::int64_t ControlKey = 0x20000;
inline constexpr std::int64_t AltKey = 0x40000;

// Message box flags.
inline constexpr std::int64_t IconError = 16;
inline constexpr std::int64_t IconWarning = 48;
inline constexpr std::int64_t IconInformation = 64;

// Item state bits of a check-box list (UiGetItemState, UiSetItemState).
inline constexpr std::int64_t UiItemSelected = 1;
inline constexpr std::int64_t UiItemChecked = 2;

// Window flags.
inline constexpr std::int64_t WindowCentred = 0x1;
inline constexpr std::int64_t WindowMaximised = 0x1000000;

// Start-up and shut-down of the window and gadget libraries (on the UI thread). UiInit
// creates the application object if there is none yet and installs the hand-over of
// posted events into this thread's event loop.
void UiInit();
void UiEnd();

// Window and layout.
ObjectNumber UiOpenWindow(ObjectNumber number, std::int64_t x, std::int64_t y, std::int64_t width,
                          std::int64_t height, const char16_t* title, std::int64_t flags);
std::int64_t UiWindowClientWidth(ObjectNumber window);
std::int64_t UiWindowClientHeight(ObjectNumber window);
ObjectNumber UiCreatePanel(ObjectNumber number, std::int64_t x, std::int64_t y, std::int64_t width,
                           std::int64_t height);
ObjectNumber UiCreateLabel(ObjectNumber number, std::int64_t x, std::int64_t y, std::int64_t width,
                           std::int64_t height, const char16_t* text);
ObjectNumber UiCreateTextField(ObjectNumber number, std::int64_t x, std::int64_t y,
                               std::int64_t width, std::int64_t height, const char16_t* text,
                               std::int64_t flags);
ObjectNumber UiCreateCheckList(ObjectNumber number, std::int64_t x, std::int64_t y,
                               std::int64_t width, std::int64_t height, const char16_t* columnTitle,
                               std::int64_t columnWidth, std::int64_t flags);
ObjectNumber UiCreateTree(ObjectNumber number, std::int64_t x, std::int64_t y, std::int64_t width,
                          std::int64_t height);
ObjectNumber UiCreateButton(ObjectNumber number, std::int64_t x, std::int64_t y, std::int64_t width,
                            std::int64_t height, const char16_t* text);
// A splitter: the gadgets created next, until UiCloseGadgetList, are its panes, side by
// side from left to right in the order created, sharing its room equally at first; the
// user moves the handle between them. Their own positions and sizes are ignored.
ObjectNumber UiCreateSplitter(ObjectNumber number, std::int64_t x, std::int64_t y,
                              std::int64_t width, std::int64_t height);
// An input view: a read-only view of a UTF-8 text of any size (see UiSetViewText), with a
// caption line above it (UiSetText, UiGetText). It paints only what is on screen, shows
// byte ranges of the text in colours (UiSetViewHighlights), and lets the user select text
// with the mouse, which raises SelectionEvent. It never takes the keyboard focus.
// UiGetState gives the first line shown (0-based), UiSetState(line) scrolls to a line.
ObjectNumber UiCreateInputView(ObjectNumber number, std::int64_t x, std::int64_t y,
                               std::int64_t width, std::int64_t height);
void UiCloseGadgetList();
// A status line along the bottom of the window, in parts: part 0 takes the room the others
// leave, each later part sits to its right, as wide as its text. From then on the window's
// client size is the area above it. Calling it again changes nothing.
void UiAddStatusLine(ObjectNumber window, std::int64_t parts);
// Sets the text of one part of the window's status line; nothing without one.
void UiSetStatusText(ObjectNumber window, std::int64_t part, const char16_t* text);
const char16_t* UiGetStatusText(ObjectNumber window, std::int64_t part);
// Raises TimerEvent with the timer's number every milliseconds until it is removed; adding
// a timer number again restarts it with the new period. UI thread.
void UiAddWindowTimer(ObjectNumber window, std::int64_t timer, std::int64_t milliseconds);
void UiRemoveWindowTimer(ObjectNumber window, std::int64_t timer);
// Moves and sizes a gadget (UiIgnore keeps a value). A check-box list whose column was as
// wide as the list keeps it so.
void UiResizeGadget(ObjectNumber gadget, std::int64_t x, std::int64_t y, std::int64_t width,
                    std::int64_t height);
// The width a gadget needs to show all its texts in full in the current font: a label's or
// a button's text, a check-box list's longest row with its check box (and room for a
// scroll bar). 0 for gadgets that scroll their text (text fields, trees) and panels.
std::int64_t UiGadgetRequiredWidth(ObjectNumber gadget);
// The room a gadget gives the gadgets inside it: for a panel, the size of a tab's page.
std::int64_t UiGadgetInnerWidth(ObjectNumber gadget);
std::int64_t UiGadgetInnerHeight(ObjectNumber gadget);
// The text shown when the pointer rests on the gadget; "" shows none.
void UiSetToolTip(ObjectNumber gadget, const char16_t* text);
// Lets a text field take files dropped on it from a file manager: a drop of files raises
// FileDropEvent with the first one instead of inserting its address. Dropped text is still
// inserted as usual. Other gadgets ignore it.
void UiEnableFileDrop(ObjectNumber gadget);
// The name under which the desktop knows the program: its desktop entry (name.desktop) and
// its icon, which every window shows: the icon called name in the desktop's icon theme, or
// the program's own copy, the resource :/icons/name.svg, where the theme has none.
void UiSetDesktopName(const char16_t* name);

// Gadget contents. An unknown gadget does nothing and returns 0 or "". Functions that
// return text return a pointer that stays valid until the calling thread's next call of
// this layer that returns text (copy it before then).
// Every operation may be called from any thread; a call from another thread than the UI
// thread waits for the UI thread (and ends a thread told to stop right after that wait),
// except the tree's UiAddItem(s), UiCountItems and UiGetItemText, which never wait: the tree's
// rows live apart from its view and reach it in batches, one UI-thread notice per batch, so
// a worker adding millions of rows is never held up by the view. Never call
// one that waits from inside a SharedChangeScope (a scope is never held while waiting for
// another thread); the three tree calls that never wait may be called there, and a worker
// adds its tree rows inside the scope that adds their record, so a stop leaves both or
// neither.
// UiAddItem: 1 when the item was added, else 0.
std::int64_t UiAddItem(ObjectNumber gadget, std::int64_t position, const char16_t* text,
                       std::int64_t image = 0, std::int64_t level = 0);
// Appends many tree rows at once, each placed by its level as UiAddItem places it, under
// one lock of the tree's rows: the number of rows added, which stops at the first one that
// memory can't hold. It never waits, as UiAddItem; a tree whose rows are not kept apart
// from its view takes them one by one.
struct UiTreeItem {
  const char16_t* text;  // null: the empty text
  std::int64_t length;
  std::int64_t level;
};
std::int64_t UiAddItems(ObjectNumber gadget, const UiTreeItem* items, std::int64_t count);
void UiClearItems(ObjectNumber gadget);
std::int64_t UiCountItems(ObjectNumber gadget);
std::int64_t UiGetState(ObjectNumber gadget);
void UiSetState(ObjectNumber gadget, std::int64_t index);
const char16_t* UiGetText(ObjectNumber gadget);
void UiSetText(ObjectNumber gadget, const char16_t* text);
const char16_t* UiGetItemText(ObjectNumber gadget, std::int64_t index, std::int64_t column);
// Every item's text, each followed by terminator, in item order: what UiGetItemText gives
// for each index, read in one go. For a tree it never waits, like UiGetItemText; "" when
// memory ran out.
const char16_t* UiGetAllItemTexts(ObjectNumber gadget, const char16_t* terminator);
// The input view's text: the view keeps a share of the bytes, not a copy, until another
// text replaces it (null bytes: no text). Highlights and the selection are cleared.
void UiSetViewText(ObjectNumber gadget, const SharedUtf8& text);
// A byte range [start, end) of an input view's text.
struct UiTextRange {
  std::int64_t start;
  std::int64_t end;
  bool operator==(const UiTextRange&) const = default;
};
// Shows ranges in colour, replacing the ones shown before: the first in the match colour,
// each further one in a group colour of its own (the colours repeat after six), later
// ranges over earlier ones; an empty range shows as a bar. The first range is scrolled
// into view.
void UiSetViewHighlights(ObjectNumber gadget, const UiTextRange* ranges, std::int64_t count);
// The ranges shown (at most capacity go to ranges); their number.
std::int64_t UiGetViewHighlights(ObjectNumber gadget, UiTextRange* ranges, std::int64_t capacity);
// Selects a range as the user would (raising SelectionEvent); the selection, start <= end,
// both 0 without one.
void UiSetViewSelection(ObjectNumber gadget, UiTextRange range);
UiTextRange UiGetViewSelection(ObjectNumber gadget);
std::int64_t UiGetItemState(ObjectNumber gadget, std::int64_t index);
void UiSetItemState(ObjectNumber gadget, std::int64_t index, std::int64_t state);
std::int64_t UiGetItemData(ObjectNumber gadget, std::int64_t index);
void UiSetItemData(ObjectNumber gadget, std::int64_t index, std::int64_t value);
void UiSetFocus(ObjectNumber gadget);
ObjectNumber UiFocusedGadget();

// Shortcuts and events.
void UiAddShortcut(ObjectNumber window, std::int64_t shortcutWord, std::int64_t eventNumber);
int UiWaitEvent();
// UI thread: keeps the windows painting and taking input while the caller waits for work
// on another thread, until done() holds (asked at least every few milliseconds). What the
// user does meanwhile (shortcuts, clicks, closing) is queued and returned by later
// UiWaitEvent calls, so the caller's own event handling is never re-entered. Events are
// handled at least once, even when done() holds from the start.
void UiKeepAnsweringUntil(const std::function<bool()>& done);
// UiEventObject and UiEventData read the current event; they belong to the event queue.

// Dialogs, clipboard, launching.
std::int64_t UiMessageBox(const char16_t* title, const char16_t* text, std::int64_t flags);
const char16_t* UiAskOpenFile(const char16_t* title, const char16_t* defaultFile,
                              const char16_t* pattern, std::int64_t patternIndex);
const char16_t* UiAskSaveFile(const char16_t* title, const char16_t* defaultFile,
                              const char16_t* pattern, std::int64_t patternIndex);
void UiSetClipboardText(const char16_t* text);
const char16_t* UiGetClipboardText();  // for tests and for pasting
// Starts program detached in directory ("" = current) with parameters as its one argument
// (none when empty). An address with a scheme (https:, file:, mailto: ...) always goes to
// the desktop's opener and is never started. A program is started from its full path or by
// a name found in PATH's absolute folders; a name with a folder that is not a full path is
// refused with an error box, and nothing is looked up in the working folder. A full path
// that is no executable, or a name found in directory, is a document for the opener.
// 1 when started or handed over, else 0.
std::int64_t UiRunProgram(const char16_t* program, const char16_t* parameters,
                          const char16_t* directory);
