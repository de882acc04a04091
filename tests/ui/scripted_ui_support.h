#pragma once
// A scripted UiServices for window tests: answers questions and dialogs from
// queues the test fills, records every message and pause, never blocks.
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/UiServices.h"

struct RecordedMessage {
  std::string text;
  std::string caption;
  ui::MsgButtons buttons;
  ui::MsgIcon icon;
  ui::MsgResult answer;
};

struct RecordedDialog {
  std::string kind;  // "open", "save", "folder"
  ui::FileDialogSpec spec;
  bool accepted;
  std::string chosen;
};

class ScriptedUi : public ui::UiServices {
 public:
  // Answers for Yes/No questions, in order; when empty, questions get No.
  std::deque<ui::MsgResult> answers;
  // Dialog results, in order: an empty optional-like entry ("" with accept=false) cancels.
  struct DialogAnswer { bool accept; std::string chosen; };
  std::deque<DialogAnswer> dialogAnswers;

  std::vector<RecordedMessage> messages;
  std::vector<std::string> errors;
  std::vector<RecordedDialog> dialogs;
  std::vector<int> pauses;
  int processMessagesCalls = 0;
  int cursorDepth = 0;
  int maxCursorDepth = 0;
  // Called at every Pause (a test can change the world while the program "waits").
  std::function<void(int)> onPause;
  // Called at every ProcessMessages.
  std::function<void()> onProcessMessages;

  ui::MsgResult Message(QWidget* owner, const std::string& text, const std::string& caption,
                        ui::MsgButtons buttons, ui::MsgIcon icon) override;
  void ShowError(QWidget* owner, const std::string& text) override;
  bool OpenDialog(QWidget* owner, const ui::FileDialogSpec& spec, std::string& chosen) override;
  bool SaveDialog(QWidget* owner, const ui::FileDialogSpec& spec, std::string& chosen) override;
  bool ChooseFolder(QWidget* owner, const std::string& title, const std::string& initialDir,
                    std::string& chosen) override;
  void SetWaitCursor() override;
  void RestoreCursor() override;
  void ProcessMessages() override;
  void Pause(int milliseconds) override;

  void Reset();
};

// Installs a fresh ScriptedUi as the program's UiServices and returns it.
std::shared_ptr<ScriptedUi> InstallScriptedUi();
