#include "dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

#include "ui/ui.h"

namespace {

ModalSeam seam;

constexpr std::int64_t IconBits = 0xF0;
constexpr std::int64_t OkButtonPressed = 1;

QString FromUtf16(const std::u16string& text) { return QString::fromStdU16String(text); }

QMessageBox::Icon QtIconOf(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// The offscreen and minimal platforms have no desktop dialogs to hand over to.
bool NativeDialogsAvailable() {
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

QString NameFilterOf(const FileFilter& filter) {
  QStringList patterns;
  for (const std::u16string& pattern : filter.patterns) patterns << FromUtf16(pattern);
  return FromUtf16(filter.description) + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) +
         QLatin1Char(')');
}

void ApplyFilters(QFileDialog& dialog, const FileChooserRequest& request) {
  if (request.filters.empty()) return;
  QStringList filters;
  for (const FileFilter& filter : request.filters) filters << NameFilterOf(filter);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.value(static_cast<int>(request.selectedFilter)));
}

// An address with a scheme (https:, file:, mailto: ...) is never a program, whatever the
// working folder holds under that name. One letter before the colon is a drive, not a scheme.
bool HasScheme(const QString& target) {
  static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
  return scheme.match(target).hasMatch();
}

// Programs are looked up in PATH, by this layer and by Qt's own launchers (the desktop's
// opener behind QDesktopServices looks for xdg-open there). An empty or relative entry
// stands for the working folder, which may hold anything a download or an unpacked archive
// brought along: such entries are dropped before any lookup.
void DropWorkingFolderFromPath() {
  const QByteArray path = qgetenv("PATH");
  if (path.isNull()) return;
  QByteArrayList kept;
  for (const QByteArray& folder : path.split(':')) {
    if (folder.startsWith('/')) kept << folder;
  }
  const QByteArray absoluteOnly = kept.join(':');
  if (absoluteOnly != path) qputenv("PATH", absoluteOnly);
}

// The full path of the program called name in a folder of PATH, or "".
QString ProgramOnPath(const QString& name) {
  DropWorkingFolderFromPath();
  return QStandardPaths::findExecutable(name);
}

bool StartDetached(const QString& program, const QStringList& arguments, const QString& directory) {
  if (seam.startProgram) {
    std::vector<std::u16string> list;
    for (const QString& argument : arguments) list.push_back(argument.toStdU16String());
    return seam.startProgram(program.toStdU16String(), list, directory.toStdU16String());
  }
  return QProcess::startDetached(program, arguments, directory);
}

bool OpenDocument(const QUrl& address) {
  if (seam.openDocument) return seam.openDocument(address.toString().toStdU16String());
  DropWorkingFolderFromPath();
  return QDesktopServices::openUrl(address);
}

// Room that a window frame's title bar takes besides the title: its buttons and margins.
constexpr int TitleBarButtonsWidth = 120;

// A box sized for a short text ("missing )") would leave the window frame room for a letter
// of its title: the box is made as wide as the frame needs to show the whole title.
void KeepTitleReadable(QMessageBox& box, const QString& title) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (!grid) return;
  const QFontMetrics metrics(QFontDatabase::systemFont(QFontDatabase::TitleFont));
  const int width = metrics.horizontalAdvance(title) + TitleBarButtonsWidth;
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

void SetModalSeam(ModalSeam hooks) { seam = std::move(hooks); }

MessageIcon MessageIconOf(std::int64_t flags) {
  switch (flags & IconBits) {
    case 0x10:
      return MessageIcon::Error;
    case 0x20:
      return MessageIcon::Question;
    case 0x30:
      return MessageIcon::Warning;
    case 0x40:
      return MessageIcon::Information;
    default:
      return MessageIcon::None;
  }
}

std::int64_t ShowMessageBox(const QString& title, const QString& text, std::int64_t flags) {
  const MessageIcon icon = MessageIconOf(flags);
  if (seam.messageBox) {
    return seam.messageBox({title.toStdU16String(), text.toStdU16String(), icon});
  }
  QMessageBox box(QtIconOf(icon), title, text, QMessageBox::Ok, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);  // the text is shown as given, never as markup
  KeepTitleReadable(box, title);
  box.exec();
  return OkButtonPressed;
}

QString ChooseFile(const FileChooserRequest& request) {
  if (seam.chooseFile) return FromUtf16(seam.chooseFile(request));
  QFileDialog dialog(QApplication::activeWindow(), FromUtf16(request.title));
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // Also for opening, the name may be one that doesn't exist yet.
  // Saving over an existing file asks first, and a "no" goes back to the chooser.
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!NativeDialogsAvailable()) dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (!request.startFolder.empty()) dialog.setDirectory(FromUtf16(request.startFolder));
  ApplyFilters(dialog, request);
  if (!request.proposedName.empty()) dialog.selectFile(FromUtf16(request.proposedName));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}

bool RunProgram(const QString& program, const QString& parameters, const QString& directory) {
  if (program.isEmpty()) return false;
  if (HasScheme(program)) return OpenDocument(QUrl(program));
  const QStringList arguments = parameters.isEmpty() ? QStringList() : QStringList{parameters};
  if (QDir::isAbsolutePath(program)) {
    const QFileInfo file(program);
    if (file.isFile() && file.isExecutable()) return StartDetached(program, arguments, directory);
    return OpenDocument(QUrl::fromLocalFile(program));
  }
  if (program.contains(QLatin1Char('/'))) {
    ShowMessageBox(QStringLiteral("error"),
                   QStringLiteral("can't start ") + program +
                       QStringLiteral(": a program is started only from its full path or by a "
                                      "name found on PATH, never from the working folder."),
                   IconError);
    return false;
  }
  if (const QString found = ProgramOnPath(program); !found.isEmpty()) {
    return StartDetached(found, arguments, directory);
  }
  // A document named without a folder is looked for only in the folder the caller gave.
  if (!QDir::isAbsolutePath(directory)) return false;
  return OpenDocument(QUrl::fromLocalFile(QDir(directory).absoluteFilePath(program)));
}
