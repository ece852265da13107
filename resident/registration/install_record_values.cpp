#include "install_record_values.h"

#include "common/text_writer.h"

namespace {

bool ContainsBlank(const wchar_t* text) {
  for (; *text != L'\0'; ++text) {
    if (*text == L' ') return true;
  }
  return false;
}

// A path with a blank is quoted: unquoted, Windows would try to run the part before
// the first blank as a program of its own.
void AppendCommandPath(TextWriter& writer, const wchar_t* path) {
  const bool quoted = ContainsBlank(path);
  if (quoted) writer.Append(L'"');
  writer.Append(path);
  if (quoted) writer.Append(L'"');
}

// The folder with its trailing backslash; the whole path when it names no folder.
void AppendLocation(TextWriter& writer, const wchar_t* path) {
  unsigned length = 0;
  unsigned afterLastBackslash = 0;
  for (; path[length] != L'\0'; ++length) {
    if (path[length] == L'\\') afterLastBackslash = length + 1;
  }
  writer.Append(path, afterLastBackslash != 0 ? afterLastBackslash : length);
}

RecordValue Text(const wchar_t* name, const wchar_t* text) {
  return RecordValue{name, RecordValueType::String, text, 0};
}

RecordValue Number(const wchar_t* name, std::uint32_t number) {
  return RecordValue{name, RecordValueType::Dword, nullptr, number};
}

}  // namespace

void ComputeInstallRecord(const InstallRecordInputs& inputs, InstallRecord& record) {
  TextWriter run(record.RunCommand);
  AppendCommandPath(run, inputs.ProgramPath);

  TextWriter version(record.DisplayVersion);
  version.AppendNumber(inputs.VersionMajor, 1);
  version.Append(L".0.0.");
  version.AppendNumber(inputs.VersionFourth, 1);

  TextWriter date(record.InstallDate);
  date.AppendNumber(inputs.Year, 1);
  date.AppendNumber(inputs.Month, 2);
  date.AppendNumber(inputs.Day, 2);

  TextWriter location(record.InstallLocation);
  AppendLocation(location, inputs.ProgramPath);

  TextWriter uninstall(record.UninstallString);
  AppendCommandPath(uninstall, inputs.ProgramPath);
  uninstall.Append(L" /uninstall");

  const RecordValue values[UNINSTALL_VALUE_COUNT] = {
      Text(L"DisplayIcon", inputs.ProgramPath),
      Text(L"DisplayName", L"Corvane"),
      Text(L"DisplayVersion", record.DisplayVersion),
      Number(L"EstimatedSize", static_cast<std::uint32_t>(inputs.FileSize / 1024)),
      Text(L"InstallDate", record.InstallDate),
      Text(L"InstallLocation", record.InstallLocation),
      Number(L"Language", 0),
      Number(L"NoModify", 1),
      Number(L"NoRepair", 1),
      Text(L"Publisher", L"Zeltraan Corporation"),
      Text(L"UninstallString", record.UninstallString),
      Number(L"VersionMajor", inputs.VersionMajor),
      Number(L"VersionMinor", inputs.VersionFourth),
  };
  for (unsigned i = 0; i < UNINSTALL_VALUE_COUNT; ++i) record.UninstallValues[i] = values[i];
}

void ProgramOfCommand(const wchar_t* command, wchar_t (&path)[PROGRAM_PATH_CAPACITY]) {
  TextWriter out(path);
  if (command[0] == L'"') {
    for (const wchar_t* c = command + 1; *c != L'\0' && *c != L'"'; ++c) out.Append(*c);
    return;
  }
  for (const wchar_t* c = command; *c != L'\0' && !(c[0] == L' ' && c[1] == L'/'); ++c) out.Append(*c);
}
