// Message boxes, file choosers, the clipboard and launching; UI thread only.
#pragma once

#include <QString>
#include <cstdint>

#include "ui/modal_seam.h"

MessageIcon MessageIconOf(std::int64_t flags);
std::int64_t ShowMessageBox(const QString& title, const QString& text, std::int64_t flags);
// The chosen path, or "" when cancelled.
QString ChooseFile(const FileChooserRequest& request);
// Starts program detached, or hands it to the desktop's opener when it is a document or
// web address; parameters travel as one argument.
bool RunProgram(const QString& program, const QString& parameters, const QString& directory);
