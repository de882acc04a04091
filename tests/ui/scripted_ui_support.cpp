#include "scripted_ui_support.h"

ui::MsgResult ScriptedUi::Message(QWidget*, const std::string& text, const std::string& caption,
                                  ui::MsgButtons buttons, ui::MsgIcon icon) {
  ui::MsgResult answer = ui::MsgResult::Ok;
  if (buttons == ui::MsgButtons::YesNo) {
    answer = ui::MsgResult::No;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
  }
  messages.push_back({text, caption, buttons, icon, answer});
  return answer;
}

void ScriptedUi::ShowError(QWidget*, const std::string& text) { errors.push_back(text); }

static bool Answer(ScriptedUi& s, const char* kind, const ui::FileDialogSpec& spec, std::string& chosen) {
  bool accept = false;
  std::string value;
  if (!s.dialogAnswers.empty()) {
    accept = s.dialogAnswers.front().accept;
    value = s.dialogAnswers.front().chosen;
    s.dialogAnswers.pop_front();
  }
  if (accept) chosen = value;
  s.dialogs.push_back({kind, spec, accept, value});
  return accept;
}

bool ScriptedUi::OpenDialog(QWidget*, const ui::FileDialogSpec& spec, std::string& chosen) {
  return Answer(*this, "open", spec, chosen);
}

bool ScriptedUi::SaveDialog(QWidget*, const ui::FileDialogSpec& spec, std::string& chosen) {
  return Answer(*this, "save", spec, chosen);
}

bool ScriptedUi::ChooseFolder(QWidget*, const std::string& title, const std::string& initialDir,
                              std::string& chosen) {
  ui::FileDialogSpec spec;
  spec.title = title;
  spec.initialDir = initialDir;
  return Answer(*this, "folder", spec, chosen);
}

void ScriptedUi::SetWaitCursor() {
  ++cursorDepth;
  if (cursorDepth > maxCursorDepth) maxCursorDepth = cursorDepth;
}

void ScriptedUi::RestoreCursor() { --cursorDepth; }

void ScriptedUi::ProcessMessages() {
  ++processMessagesCalls;
  if (onProcessMessages) onProcessMessages();
}

void ScriptedUi::Pause(int milliseconds) {
  pauses.push_back(milliseconds);
  if (onPause) onPause(milliseconds);
}

void ScriptedUi::Reset() {
  answers.clear();
  dialogAnswers.clear();
  messages.clear();
  errors.clear();
  dialogs.clear();
  pauses.clear();
  processMessagesCalls = 0;
  cursorDepth = maxCursorDepth = 0;
}

std::shared_ptr<ScriptedUi> InstallScriptedUi() {
  auto s = std::make_shared<ScriptedUi>();
  ui::SetUi(s);
  return s;
}
