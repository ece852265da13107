#include "virtual_devices.h"

#include <stdio.h>
#include <stdlib.h>

namespace vdev {
namespace {

std::wstring Join(const std::wstring& dir, const wchar_t* name) { return dir + L"\\" + name; }

bool WriteFileText(const std::wstring& path, const std::string& text, DWORD disposition, DWORD access) {
  HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            disposition, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  return CloseHandle(file) && ok;
}

std::string Narrow(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &narrow[0], size, nullptr, nullptr);
  narrow.resize(size - 1);
  return narrow;
}

bool DeleteTree(const std::wstring& dir) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(Join(dir, L"*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = Join(dir, name.c_str());
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  return RemoveDirectoryW(dir.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
         GetLastError() == ERROR_PATH_NOT_FOUND;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < line.size()) {
    size_t start = line.find_first_not_of(' ', at);
    if (start == std::string::npos) break;
    size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    words.push_back(line.substr(start, end - start));
    at = end;
  }
  return words;
}

}  // namespace

bool PrepareFolder(const std::wstring& dir) {
  DeleteTree(dir);
  size_t at = 0;
  while ((at = dir.find(L'\\', at + 1)) != std::wstring::npos) CreateDirectoryW(dir.substr(0, at).c_str(), nullptr);
  if (!CreateDirectoryW(dir.c_str(), nullptr)) return false;
  return CreateDirectoryW(Join(dir, kDevicesFolder).c_str(), nullptr) && WriteHidInterfaces(dir, {}) &&
         WriteAudioSetup(dir, AudioSetup{}) &&
         WriteFileText(Join(dir, kAudioCommandsFile), "", CREATE_ALWAYS, GENERIC_WRITE);
}

std::wstring InterfacePath(const std::wstring& dir, const std::wstring& name) {
  return Join(Join(dir, kDevicesFolder), name.c_str());
}

bool WriteHidInterfaces(const std::wstring& dir, const std::vector<HidInterface>& interfaces) {
  std::string text;
  for (const HidInterface& device : interfaces) {
    if (!device.absent && !WriteFileText(InterfacePath(dir, device.name), "", CREATE_ALWAYS, GENERIC_WRITE))
      return false;
    char ids[64];
    snprintf(ids, sizeof ids, " %04x %04x", device.vendorId, device.productId);
    text += Narrow(device.name) + ids;
    if (device.exclusive) text += " exclusive";
    if (device.featureLength != kDefaultFeatureLength) {
      text += " feature-length=" + std::to_string(device.featureLength);
    }
    if (device.attributesFail) text += " no-attributes";
    if (device.stallMs) text += " stall-ms=" + std::to_string(device.stallMs);
    if (device.absent) text += " absent";
    text += "\n";
  }
  return WriteFileText(Join(dir, kHidInterfacesFile), text, CREATE_ALWAYS, GENERIC_WRITE);
}

bool WriteHidCosts(const std::wstring& dir, const HidCosts& costs) {
  std::string text = "walk-ms=" + std::to_string(costs.walkMs) + "\nset-feature-ms=" +
                     std::to_string(costs.setFeatureMs) + "\n";
  return WriteFileText(Join(dir, kHidCostsFile), text, CREATE_ALWAYS, GENERIC_WRITE);
}

bool WriteAudioSetup(const std::wstring& dir, const AudioSetup& setup) {
  char volume[32];
  snprintf(volume, sizeof volume, "%.3f", setup.volume);
  std::string text = std::string("muted=") + (setup.muted ? "1" : "0") + "\nvolume=" + volume + "\n";
  if (setup.endpointAbsent) text += "endpoint=absent\n";
  for (const std::string& step : setup.failSteps) text += "fail=" + step + "\n";
  if (setup.getMuteFails) text += "getmute-fails=1\n";
  text += "release-delay-ms=" + std::to_string(setup.releaseDelayMs) + "\n";
  return WriteFileText(Join(dir, kAudioFile), text, CREATE_ALWAYS, GENERIC_WRITE);
}

bool WriteExitDelay(const std::wstring& dir, unsigned delayMs) {
  return WriteFileText(Join(dir, kExitDelayFile), std::to_string(delayMs), CREATE_ALWAYS, GENERIC_WRITE);
}

bool SendAudioCommand(const std::wstring& dir, const std::string& line) {
  return WriteFileText(Join(dir, kAudioCommandsFile), line + "\n", OPEN_ALWAYS, FILE_APPEND_DATA);
}

bool SetMute(const std::wstring& dir, bool muted) { return SendAudioCommand(dir, muted ? "mute 1" : "mute 0"); }

bool SetVolume(const std::wstring& dir, float volume) {
  char line[32];
  snprintf(line, sizeof line, "volume %.3f", volume);
  return SendAudioCommand(dir, line);
}

bool ChangeDefaultDevice(const std::wstring& dir, int flow, int role) {
  return SendAudioCommand(dir, "default-changed " + std::to_string(flow) + " " + std::to_string(role));
}

std::vector<LogEntry> ReadLog(const std::wstring& dir, const wchar_t* logName) {
  std::vector<LogEntry> entries;
  HANDLE file = CreateFileW(Join(dir, logName).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return entries;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  // Only complete lines: a writer may be in the middle of one.
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::vector<std::string> words = Words(text.substr(start, end - start));
    if (words.size() < 3) continue;
    LogEntry entry;
    entry.tick = strtoul(words[0].c_str(), nullptr, 10);
    entry.pid = strtoul(words[1].c_str(), nullptr, 10);
    entry.event = words[2];
    entry.fields.assign(words.begin() + 3, words.end());
    entries.push_back(entry);
  }
  return entries;
}

std::vector<Report> ReadReports(const std::wstring& dir) {
  std::vector<Report> reports;
  for (const LogEntry& entry : ReadLog(dir, kHidLog)) {
    if (entry.event != "set-feature" || entry.fields.size() < 2) continue;
    Report report{entry.tick, entry.pid, entry.fields[0], entry.fields[1], {}};
    for (size_t i = 2; i < entry.fields.size(); ++i) {
      if (entry.fields[i] != "-") {
        report.bytes.push_back(static_cast<unsigned char>(strtoul(entry.fields[i].c_str(), nullptr, 16)));
      }
    }
    reports.push_back(report);
  }
  return reports;
}

std::string HexBytes(const std::vector<unsigned char>& bytes) {
  std::string text;
  char hex[4];
  for (unsigned char byte : bytes) {
    snprintf(hex, sizeof hex, "%02x", byte);
    if (!text.empty()) text += ' ';
    text += hex;
  }
  return text;
}

}  // namespace vdev
