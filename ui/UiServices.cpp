#include "ui/UiServices.h"
#include "ui/QtText.h"

#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStringList>
#include <QThread>

#include "platform/file.h"
#include "platform/text.h"

namespace ui {

namespace {


// A program path may be written with backslashes or a drive letter; the dialogs
// need the name the running platform uses.
QString NativeQ(const std::string& path) {
  if (path.empty()) return QString();
  std::string native = plat::NativePath(path);
  return Q(native.empty() ? path : native);
}

QMessageBox::Icon ToQt(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Error: return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

class QtUiServices final : public UiServices {
 public:
  MsgResult Message(QWidget* owner, const std::string& text, const std::string& caption,
                    MsgButtons buttons, MsgIcon icon) override {
    QMessageBox box(ToQt(icon), Q(caption), Q(text),
                    buttons == MsgButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                    owner);
    const int answer = box.exec();
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;
    return answer == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
  }

  void ShowError(QWidget* owner, const std::string& text) override {
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), Q(text),
                    QMessageBox::Ok, owner);
    box.exec();
  }

  bool OpenDialog(QWidget* owner, const FileDialogSpec& spec, std::string& chosen) override {
    return RunFileDialog(owner, spec, /*save=*/false, chosen);
  }

  bool SaveDialog(QWidget* owner, const FileDialogSpec& spec, std::string& chosen) override {
    return RunFileDialog(owner, spec, /*save=*/true, chosen);
  }

  bool ChooseFolder(QWidget* owner, const std::string& title, const std::string& initialDir,
                    std::string& chosen) override {
    const QString dir = QFileDialog::getExistingDirectory(owner, Q(title), NativeQ(initialDir));
    if (dir.isEmpty()) return false;
    chosen = S(dir);
    return true;
  }

  void SetWaitCursor() override { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
  void RestoreCursor() override { QApplication::restoreOverrideCursor(); }
  void ProcessMessages() override { QCoreApplication::processEvents(); }
  void Pause(int milliseconds) override {
    if (milliseconds > 0) QThread::msleep(static_cast<unsigned long>(milliseconds));
  }

 private:
  // "Desc (*.a)|*.a|Other (*.b)|*.b" becomes the Qt filter list "Desc (*.a)", "Other (*.b)".
  static QStringList Filters(const std::string& filter) {
    QStringList out;
    const QStringList parts = Q(filter).split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
      QString desc = parts[i].trimmed();
      const QString pattern = parts[i + 1].trimmed();
      // Qt takes the patterns from the parentheses of the description.
      if (!desc.contains(QLatin1Char('('))) desc += QStringLiteral(" (") + pattern + QLatin1Char(')');
      out << desc;
    }
    return out;
  }

  static bool RunFileDialog(QWidget* owner, const FileDialogSpec& spec, bool save, std::string& chosen) {
    const QString preset = NativeQ(spec.fileName);
    QString dir = NativeQ(spec.initialDir);
    QString name = preset;
    if (!preset.isEmpty()) {
      QFileInfo info(preset);
      if (dir.isEmpty() && preset.contains(QLatin1Char('/'))) dir = info.path();
      if (!dir.isEmpty()) name = info.fileName();
    }
    QFileDialog dlg(owner, Q(spec.title), dir);
    dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(spec.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !spec.overwritePrompt);
    dlg.setSizeGripEnabled(true);
    const QStringList filters = Filters(spec.filter);
    if (!filters.isEmpty()) dlg.setNameFilters(filters);
    if (!spec.defaultExt.empty()) dlg.setDefaultSuffix(Q(spec.defaultExt));
    if (!name.isEmpty()) dlg.selectFile(name);
    if (dlg.exec() != QDialog::Accepted) return false;
    const QStringList files = dlg.selectedFiles();
    if (files.isEmpty()) return false;
    chosen = S(files.first());
    return true;
  }
};

std::shared_ptr<UiServices>& Current() {
  static std::shared_ptr<UiServices> current;
  return current;
}

}  // namespace

UiServices& Ui() {
  auto& current = Current();
  if (!current) current = MakeQtUiServices();
  return *current;
}

void SetUi(std::shared_ptr<UiServices> services) { Current() = std::move(services); }

std::shared_ptr<UiServices> MakeQtUiServices() { return std::make_shared<QtUiServices>(); }

}  // namespace ui
