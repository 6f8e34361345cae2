// Message boxes, file choosers, the clipboard and launching.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include "file_chooser_request.h"
#include "ui/modal_seam.h"
#include "ui_test_support.h"

using namespace ui_test;

namespace {

class DialogTest : public testing::Test {
 protected:
  void SetUp() override { OpenEvaluatorLikeWindow(); }
  void TearDown() override { SetModalSeam({}); }
};

// Runs inspect on the first modal dialog that opens (within a few seconds).
template <typename Dialog>
void WhenDialogOpens(std::function<void(Dialog*)> inspect) {
  auto* poll = new QTimer;
  auto* waited = new QElapsedTimer;
  waited->start();
  QObject::connect(poll, &QTimer::timeout, [poll, waited, inspect] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (!dialog && waited->elapsed() < 5000) return;
    poll->stop();
    poll->deleteLater();
    delete waited;
    if (dialog) inspect(dialog);
  });
  poll->start(10);
}

TEST_F(DialogTest, MessageBoxFlagsSelectTheIcon) {
  std::vector<MessageBoxRequest> shown;
  ModalSeam seam;
  seam.messageBox = [&](const MessageBoxRequest& request) -> std::int64_t {
    shown.push_back(request);
    return 1;
  };
  SetModalSeam(seam);
  for (std::int64_t flags : {16, 48, 64, 0, 32}) UiMessageBox(u"title", u"text", flags);
  ASSERT_EQ(shown.size(), 5u);
  EXPECT_EQ(shown[0].icon, MessageIcon::Error);
  EXPECT_EQ(shown[1].icon, MessageIcon::Warning);
  EXPECT_EQ(shown[2].icon, MessageIcon::Information);
  EXPECT_EQ(shown[3].icon, MessageIcon::None);
  EXPECT_EQ(shown[4].icon, MessageIcon::Question);
  EXPECT_EQ(shown[0].title, u"title");
  EXPECT_EQ(shown[0].text, u"text");
}

TEST_F(DialogTest, RealMessageBoxHasTheIconAndOneOkButton) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
  QString title, text;
  WhenDialogOpens<QMessageBox>([&](QMessageBox* box) {
    icon = box->icon();
    buttons = static_cast<int>(box->buttons().size());
    title = box->windowTitle();
    text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(UiMessageBox(u"In progress", u"Evaluating <b>is</b> already in progress.", 48), 1);
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(buttons, 1);
  EXPECT_EQ(title, QString("In progress"));
  EXPECT_EQ(text, QString("Evaluating <b>is</b> already in progress."));
}

TEST_F(DialogTest, AMessageBoxWithAShortTextIsWideEnoughForItsFrameToShowTheTitle) {
  int width = 0;
  WhenDialogOpens<QMessageBox>([&](QMessageBox* box) {
    width = box->width();
    box->button(QMessageBox::Ok)->click();
  });
  const QString title = QStringLiteral("error: the pattern could not be compiled");
  UiMessageBox(reinterpret_cast<const char16_t*>(title.utf16()), u"missing )", 16);
  const QFontMetrics metrics(QFontDatabase::systemFont(QFontDatabase::TitleFont));
  // The title, and room for the frame's buttons beside it.
  EXPECT_GE(width, metrics.horizontalAdvance(title) + 100);
}

TEST_F(DialogTest, CancelledChoosersReturnTheEmptyText) {
  WhenDialogOpens<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_EQ(Text(UiAskOpenFile(u"input file", u"", u"all | *.*", 0)), u"");
  WhenDialogOpens<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_EQ(Text(UiAskSaveFile(u"export to", u"_export.txt", u"", 0)), u"");
}

TEST_F(DialogTest, OpenChooserStartsInTheFolderWithTheNameAndTakesANewFile) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const std::u16string defaultFile = (folder.path() + "/new input.txt").toStdU16String();
  QString shownFolder;
  QStringList filters;
  QFileDialog::AcceptMode mode = QFileDialog::AcceptSave;
  WhenDialogOpens<QFileDialog>([&](QFileDialog* dialog) {
    shownFolder = dialog->directory().absolutePath();
    filters = dialog->nameFilters();
    mode = dialog->acceptMode();
    static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
  });
  const std::u16string chosen =
      Text(UiAskOpenFile(u"input file", defaultFile.c_str(), u"all | *.*", 0));
  EXPECT_EQ(chosen, defaultFile);  // it need not exist yet
  EXPECT_EQ(shownFolder, QDir(folder.path()).absolutePath());
  EXPECT_EQ(filters, QStringList{"all (*)"});  // Qt folds the description's space
  EXPECT_EQ(mode, QFileDialog::AcceptOpen);
}

// An existing file is taken only after a "yes"; a "no" goes back to the chooser, which the
// user then cancels.
TEST_F(DialogTest, SaveChooserAsksBeforeTakingAnExistingFile) {
  QTemporaryDir folder;
  QFile existing(folder.path() + "/log_export.txt");
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.close();
  const std::u16string defaultFile = existing.fileName().toStdU16String();
  for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
    QString question;
    bool chooserBack = false;
    WhenDialogOpens<QFileDialog>(
        [](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->accept(); });
    WhenDialogOpens<QMessageBox>([&, answer](QMessageBox* box) {
      question = box->text();
      box->button(answer)->click();
      if (answer == QMessageBox::Yes) return;
      // After a "no" the chooser is still open: the user cancels it.
      QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        chooserBack = dialog != nullptr;
        if (dialog) dialog->reject();
      });
    });
    const std::u16string chosen = Text(UiAskSaveFile(u"export to", defaultFile.c_str(), u"", 0));
    EXPECT_TRUE(question.contains("log_export.txt")) << question.toStdString();
    EXPECT_EQ(chosen, answer == QMessageBox::Yes ? defaultFile : u"");
    EXPECT_EQ(chooserBack, answer == QMessageBox::No);
  }
}

TEST_F(DialogTest, ChooserRequestSplitsTheDefaultFileAndDropsUnfitNames) {
  FileChooserRequest request = BuildFileChooserRequest(false, u"t", u"C:\\data\\in.txt", u"", 0);
  EXPECT_EQ(request.startFolder, u"C:\\data");
  EXPECT_EQ(request.proposedName, u"in.txt");
  request = BuildFileChooserRequest(true, u"t", u"log.old_export.json", u"", 0);
  EXPECT_EQ(request.startFolder, u"");
  EXPECT_EQ(request.proposedName, u"log.old_export.json");
  EXPECT_TRUE(request.save);
  EXPECT_EQ(BuildFileChooserRequest(false, u"t", u"/top.txt", u"", 0).startFolder, u"/");
  EXPECT_EQ(BuildFileChooserRequest(false, u"t", u"/home/u/", u"", 0).proposedName, u"");
  for (const char16_t* unfit :
       {u"a?.txt", u"a\"b", u"a*", u"a:b", u"a<b", u"a>b", u"a|b", u"a\tb", u""}) {
    EXPECT_EQ(BuildFileChooserRequest(false, u"t", unfit, u"", 0).proposedName, u"")
        << QString::fromUtf16(unfit).toStdString();
  }
}

TEST_F(DialogTest, ChooserFiltersComeInPairsWithTheirSpaces) {
  FileChooserRequest request = BuildFileChooserRequest(false, u"t", u"", u"all | *.*", 0);
  ASSERT_EQ(request.filters.size(), 1u);
  EXPECT_EQ(request.filters[0].description, u"all ");
  EXPECT_EQ(request.filters[0].patterns, std::vector<std::u16string>{u"*"});
  request = BuildFileChooserRequest(false, u"t", u"", u"Text|*.txt;*.log|Dangling", 1);
  ASSERT_EQ(request.filters.size(), 1u);  // a description without patterns is no filter
  EXPECT_EQ(request.filters[0].patterns, (std::vector<std::u16string>{u"*.txt", u"*.log"}));
  EXPECT_EQ(request.selectedFilter, 0u);  // index 1 doesn't exist
  request = BuildFileChooserRequest(false, u"t", u"", u"A|*.a|B|*.b", 1);
  EXPECT_EQ(request.selectedFilter, 1u);
  EXPECT_TRUE(BuildFileChooserRequest(false, u"t", u"", u"", 0).filters.empty());
}

TEST_F(DialogTest, ChooserHookReceivesTheRequest) {
  std::vector<FileChooserRequest> asked;
  ModalSeam seam;
  seam.chooseFile = [&](const FileChooserRequest& request) {
    asked.push_back(request);
    return std::u16string(u"/tmp/chosen.txt");
  };
  SetModalSeam(seam);
  EXPECT_EQ(Text(UiAskSaveFile(u"export to", u"notes_export.txt", u"", 0)), u"/tmp/chosen.txt");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].title, u"export to");
  EXPECT_EQ(asked[0].proposedName, u"notes_export.txt");
}

TEST_F(DialogTest, ClipboardHoldsUnicodeText) {
  const std::u16string text = u"ab\r\na\r\n\u00fc\U0001F600\r\n";
  UiSetClipboardText(text.c_str());
  EXPECT_EQ(Text(UiGetClipboardText()), text);
  UiSetClipboardText(u"");
  EXPECT_EQ(Text(UiGetClipboardText()), u"");
}

TEST_F(DialogTest, ProgramStartsDetachedWithItsParametersAsOneArgumentInItsFolder) {
  QTemporaryDir folder;
  const QString script = folder.path() + "/record.sh";
  QFile file(script);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(
      "#!/bin/sh\nprintf '%s|%s|%s' \"$#\" \"$1\" \"$PWD\" > \"$PWD/out.tmp\"\n"
      "mv \"$PWD/out.tmp\" \"$PWD/out.txt\"\n");
  file.close();
  file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const std::u16string program = script.toStdU16String();
  const std::u16string directory = folder.path().toStdU16String();
  EXPECT_EQ(UiRunProgram(program.c_str(), u"/path with spaces/in.txt", directory.c_str()), 1);
  QFile out(folder.path() + "/out.txt");
  ASSERT_TRUE(ProcessUntil([&] { return out.exists(); }));
  ASSERT_TRUE(out.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(out.readAll()),
            "1|/path with spaces/in.txt|" + QDir(folder.path()).canonicalPath());
}

TEST_F(DialogTest, DocumentsAndWebAddressesGoToTheDesktopOpener) {
  std::vector<std::u16string> opened;
  ModalSeam seam;
  seam.openDocument = [&](const std::u16string& address) {
    opened.push_back(address);
    return true;
  };
  SetModalSeam(seam);
  QTemporaryDir folder;
  const std::u16string directory = folder.path().toStdU16String();
  EXPECT_EQ(UiRunProgram(u"https://example.org/regex-disambiguation.html", u"", u""), 1);
  EXPECT_EQ(UiRunProgram(u"notes.txt", u"", directory.c_str()), 1);
  EXPECT_EQ(UiRunProgram(u"https:/www.rexegg.com/regex-disambiguation.html", u"", u""), 1);
  EXPECT_EQ(UiRunProgram(u"notes.txt", u"", u""), 0);  // no folder given: not looked for
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[2], u"https:/www.rexegg.com/regex-disambiguation.html");
  EXPECT_EQ(opened[0], u"https://example.org/regex-disambiguation.html");
  EXPECT_EQ(opened[1],
            (QUrl::fromLocalFile(folder.path() + "/notes.txt")).toString().toStdU16String());
  EXPECT_EQ(UiRunProgram(u"", u"", u""), 0);
}

// The working folder holds bin/tool and tool; PATH names it as "." and as an empty entry.
// Neither is started, however the name reaches the layer.
TEST_F(DialogTest, NothingIsStartedFromTheWorkingFolder) {
  QTemporaryDir folder;
  ASSERT_TRUE(QDir(folder.path()).mkdir("bin"));
  for (const char* name : {"bin/tool", "tool"}) {
    QFile file(folder.path() + "/" + QString(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  std::vector<std::u16string> started;
  std::vector<MessageBoxRequest> boxes;
  ModalSeam seam;
  seam.startProgram = [&](const std::u16string& program, const std::vector<std::u16string>&,
                          const std::u16string&) {
    started.push_back(program);
    return true;
  };
  seam.openDocument = [&](const std::u16string&) { return true; };
  seam.messageBox = [&](const MessageBoxRequest& request) {
    boxes.push_back(request);
    return std::int64_t{1};
  };
  SetModalSeam(seam);
  const QString savedFolder = QDir::currentPath();
  const QByteArray savedPath = qgetenv("PATH");
  QDir::setCurrent(folder.path());
  qputenv("PATH", ".::" + savedPath);
  const std::int64_t relative = UiRunProgram(u"bin/tool", u"", u"");
  const std::int64_t bare = UiRunProgram(u"tool", u"", u"");
  const std::int64_t onPath = UiRunProgram(u"sh", u"", u"");
  const QByteArray pathAfter = qgetenv("PATH");  // what Qt's own launchers look in too
  qputenv("PATH", savedPath);
  QDir::setCurrent(savedFolder);
  EXPECT_EQ(relative, 0);
  EXPECT_EQ(bare, 0);
  EXPECT_EQ(onPath, 1);
  EXPECT_FALSE(pathAfter.startsWith(".") || pathAfter.startsWith(":") || pathAfter.contains("::"));
  ASSERT_EQ(started.size(), 1u);  // only sh, from a folder of PATH, by its full path
  EXPECT_TRUE(started[0].starts_with(u"/") && started[0].ends_with(u"/sh"));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].icon, MessageIcon::Error);
  EXPECT_NE(boxes[0].text.find(u"can't start bin/tool"), std::u16string::npos);
  EXPECT_NE(boxes[0].text.find(u"never from the working folder"), std::u16string::npos);
}

}  // namespace
