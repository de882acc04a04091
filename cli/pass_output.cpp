// How the command line shows a pass and its outcome.
#include <iostream>

#include "cli/commands.h"
#include "engine/labels.h"

void TCliPassView::ShowStatus(const std::string& text) { std::cout << text << "\n" << std::flush; }

void TCliPassView::ShowMessage(const TPassMessage& message) {
  if (message.Icon == TPassIcon::Information)
    std::cout << message.Text << "\n" << std::flush;
  // A warning is told with its reason by ManualPassStatus, or by the cycle's line.
}

int ManualPassStatus(TPassKind kind, const TPassResult& r, const TPassInput& in) {
  WarnIfLogFailing();
  const bool package = kind == TPassKind::Package;
  std::string text;
  switch (r.Outcome) {
    case TOutcome::Success:
    case TOutcome::Nothing:
      return 0;
    case TOutcome::Busy:
      std::cerr << "vadoviver-cli: Kavlo Desko is busy: "
                << (r.Reason == TPassReason::SourceOpen ? in.Source + " is still open in another program"
                                                        : std::string("another program holds the Labels table's lock"))
                << "; nothing was changed, try again later.\n";
      return kExitBusy;
    case TOutcome::Failed:
      break;
  }
  switch (r.Reason) {
    case TPassReason::SortFile:
      text = "Sort file invalid: " + in.QueryFile + " gives no sort key (section Keys, Key1 to Key5)";
      break;
    case TPassReason::CreateResult:
      text = "Unable to create new file: Unable to create the sorted result text file. (" + in.Result + ")";
      break;
    default:
      text = package ? "Error Occured: Unable to process package label sort."
                       " The Labels table cannot be opened, or a label could not be printed"
                       " (no usable printer for its kind, document missing, in use or refused, printer or port failure);"
                       " the labels that did not print wait for the next pass."
                     : "Unable to create new file: Unable to create the sorted result text file."
                       " The source is missing or in use, the result is in use, or a read or write failed.";
  }
  std::cerr << "vadoviver-cli: " << text << "\n";
  if (package && !LastLabelRefusal().empty()) std::cerr << "vadoviver-cli: Label refused: " << LastLabelRefusal() << "\n";
  return 1;
}
