#pragma once
// Everything the windows ask of the platform beyond their own widgets: modal
// message boxes, file dialogs, the wait cursor, processing pending messages and
// pausing. The Qt implementation is the real one; tests install a scripted one.
// Texts are Windows-1252 std::string, like the rest of the program.
#include <memory>
#include <string>

class QWidget;

namespace ui {

enum class MsgButtons { Ok, YesNo };
enum class MsgIcon { Warning, Question, Information, Error };
enum class MsgResult { Ok, Yes, No };

struct FileDialogSpec {
  std::string title;
  std::string fileName;     // preset file name
  std::string filter;       // "Description (*.ext)|*.ext"
  std::string initialDir;   // "" = none
  std::string defaultExt;   // without the dot
  bool fileMustExist = false;
  bool pathMustExist = true;
  bool overwritePrompt = false;
  bool hideReadOnly = true;
};

class UiServices {
 public:
  virtual ~UiServices() = default;
  virtual MsgResult Message(QWidget* owner, const std::string& text, const std::string& caption,
                            MsgButtons buttons, MsgIcon icon) = 0;
  // The toolkit's standard error box (errors raised inside a handler).
  virtual void ShowError(QWidget* owner, const std::string& text) = 0;
  // True when the user accepted; chosen receives the full file name.
  virtual bool OpenDialog(QWidget* owner, const FileDialogSpec& spec, std::string& chosen) = 0;
  virtual bool SaveDialog(QWidget* owner, const FileDialogSpec& spec, std::string& chosen) = 0;
  // Folder choice; chosen receives the folder.
  virtual bool ChooseFolder(QWidget* owner, const std::string& title, const std::string& initialDir,
                            std::string& chosen) = 0;
  // Sets the wait cursor and returns a token for RestoreCursor (nesting allowed).
  virtual void SetWaitCursor() = 0;
  virtual void RestoreCursor() = 0;
  virtual void ProcessMessages() = 0;  // once
  virtual void Pause(int milliseconds) = 0;
};

UiServices& Ui();
void SetUi(std::shared_ptr<UiServices> services);
std::shared_ptr<UiServices> MakeQtUiServices();

}  // namespace ui
