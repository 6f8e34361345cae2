#include "dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

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

// A document path is taken relative to directory, as a program would be started there.
QUrl DocumentAddress(const QString& target, const QString& directory) {
  const QUrl address(target);
  if (address.isValid() && address.scheme().size() > 1) return address;  // not a drive letter
  return QUrl::fromLocalFile(QDir(directory.isEmpty() ? QDir::currentPath() : directory)
                                 .absoluteFilePath(target));
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
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!NativeDialogsAvailable()) dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (!request.startFolder.empty()) dialog.setDirectory(FromUtf16(request.startFolder));
  ApplyFilters(dialog, request);
  if (!request.proposedName.empty()) dialog.selectFile(FromUtf16(request.proposedName));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}

bool RunProgram(const QString& program, const QString& parameters, const QString& directory) {
  if (program.isEmpty()) return false;
  const QStringList arguments = parameters.isEmpty() ? QStringList() : QStringList{parameters};
  if (StartDetached(program, arguments, directory)) return true;
  return OpenDocument(DocumentAddress(program, directory));
}
