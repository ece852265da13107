#pragma once
// The real control window of the resident program, created in the test process,
// with the virtual keyboard beside it. Messages the window posts to itself are
// taken from the queue and recorded before they are handled, so a test sees what
// a handler did as a sequence.

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/app_state.h"
#include "import_slot.h"

struct PostedMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam = 0;  // handed on by Deliver; not compared
  bool operator==(const PostedMessage& other) const {
    return message == other.message && wParam == other.wParam;
  }
};
std::ostream& operator<<(std::ostream& out, const PostedMessage& posted);

// While it lives, the window procedure's calls of DefWindowProcW (through this
// program's import of it) are recorded and answered with kAnswer after the real
// default procedure ran, so a test sees both the call and whose answer came back.
class DefaultProcedureCalls {
 public:
  static constexpr LRESULT kAnswer = 0x5A17;
  DefaultProcedureCalls();
  ~DefaultProcedureCalls();
  bool Installed() const { return slot_ != nullptr; }
  const std::vector<UINT>& Messages() const;

 private:
  void** slot_ = nullptr;
};

class ControlWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The messages waiting for the control window, removed from the queue in order.
  std::vector<PostedMessage> TakePosted();
  // Hands the messages to the window procedure as the loop would.
  void Deliver(const std::vector<PostedMessage>& messages);
  // KillTimer tells whether the timer was pending; the test then re-arms nothing.
  bool TimerPending(UINT_PTR id);
  // The reports sent since the test began, as "interface: bytes".
  std::vector<std::string> NewReports();
  std::vector<std::string> ReportsOnEveryKeyboardInterface(const std::string& bytes);

  std::wstring dir_;
  size_t reportsBefore_ = 0;
};
