// vadoviver-cli labels SORTFILE: one manual package pass.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/text.h"

int RunLabelsCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::cerr << "usage: vadoviver-cli [--home DIR] labels SORTFILE\n";
    return 1;
  }
  TPassInput in;
  in.QueryFile = plat::Trim(args[0]);
  TCliPassView view;
  const TPassResult r = CliProcessing().ManualPackagePass(in, view);
  return ManualPassStatus(TPassKind::Package, r, in);
}
