// The one way around the parts of the toolkit layer that need a person or start something
// outside the program: message boxes, file choosers and launching. A hook that is set
// replaces the dialog or the launch (it receives the request the layer worked out and
// answers in its place); an empty hook keeps the real thing. Hooks run on the UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class MessageIcon { None, Error, Question, Warning, Information };

struct MessageBoxRequest {
  std::u16string title;
  std::u16string text;
  MessageIcon icon = MessageIcon::None;
};

struct FileFilter {
  std::u16string description;
  std::vector<std::u16string> patterns;
};

struct FileChooserRequest {
  bool save = false;
  std::u16string title;
  std::u16string startFolder;   // empty: the toolkit picks the folder
  std::u16string proposedName;  // empty: no name proposed
  std::vector<FileFilter> filters;
  std::size_t selectedFilter = 0;
};

struct ModalSeam {
  // Answers the button pressed (1 for OK).
  std::function<std::int64_t(const MessageBoxRequest&)> messageBox;
  // Answers the chosen path, or "" for a cancelled chooser. A save chooser asks itself
  // before it answers an existing file, so its hook stands for that question too.
  std::function<std::u16string(const FileChooserRequest&)> chooseFile;
  // Starts a program detached; false when it can't be started as a program.
  std::function<bool(const std::u16string& program, const std::vector<std::u16string>& arguments,
                     const std::u16string& directory)>
      startProgram;
  // Hands a document path or web address to the desktop's opener.
  std::function<bool(const std::u16string& address)> openDocument;
};

// Installs hooks (an empty ModalSeam restores every real dialog and launch). UI thread.
void SetModalSeam(ModalSeam seam);
