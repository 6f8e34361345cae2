// Message boxes, file choosers, the clipboard and launching; UI thread only.
#pragma once

#include <QString>
#include <cstdint>

#include "ui/modal_seam.h"

MessageIcon MessageIconOf(std::int64_t flags);
std::int64_t ShowMessageBox(const QString& title, const QString& text, std::int64_t flags);
// The chosen path, or "" when cancelled.
QString ChooseFile(const FileChooserRequest& request);
// Starts program detached (a full path, or a name found in PATH's absolute folders), or
// hands it to the desktop's opener when it is a web address or a document; parameters
// travel as one argument. Nothing is looked up in the working folder: a relative name with
// a folder in it is refused with a message box.
bool RunProgram(const QString& program, const QString& parameters, const QString& directory);
