#include "install_record_values.h"

namespace {

// Appends to a fixed buffer and keeps it terminated; text that does not fit is cut.
// Numbers are formatted here because the C runtimes of the builds disagree on
// wide printf conversions.
class TextWriter {
 public:
  template <unsigned N>
  explicit TextWriter(wchar_t (&buffer)[N]) : out_(buffer), capacity_(N) { out_[0] = L'\0'; }

  void Append(wchar_t c) {
    if (length_ + 1 >= capacity_) return;
    out_[length_++] = c;
    out_[length_] = L'\0';
  }

  void Append(const wchar_t* text) {
    for (; *text != L'\0'; ++text) Append(*text);
  }

  void Append(const wchar_t* text, unsigned count) {
    for (unsigned i = 0; i < count; ++i) Append(text[i]);
  }

  // Decimal, padded with zeros to at least minDigits (printf's "%0Nd").
  void AppendNumber(unsigned value, unsigned minDigits) {
    wchar_t digits[10];
    unsigned count = 0;
    do {
      digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
      value /= 10;
    } while (value != 0);
    for (; minDigits > count; --minDigits) Append(L'0');
    while (count > 0) Append(digits[--count]);
  }

 private:
  wchar_t* out_;
  unsigned capacity_;
  unsigned length_ = 0;
};

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
