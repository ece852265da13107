#include "record_rules.h"

namespace {

constexpr long SUCCESS = 0;            // ERROR_SUCCESS
constexpr long FILE_NOT_FOUND = 2;     // ERROR_FILE_NOT_FOUND

}  // namespace

bool CountsAsRemoved(long status) { return status == SUCCESS || status == FILE_NOT_FOUND; }

UninstallEnd EndOfUninstall(int recordRemoval) {
  if (recordRemoval == 0) return UninstallEnd{true, 0};
  return UninstallEnd{false, 1};
}

namespace {

bool NamesNoOtherProgram(NamedProgram named) { return named == NamedProgram::ThisFile || named == NamedProgram::Missing; }

}  // namespace

bool RecordIsOurs(NamedProgram runValue, NamedProgram uninstallCommand) {
  return NamesNoOtherProgram(runValue) && NamesNoOtherProgram(uninstallCommand);
}
