// A scripted Host: records message boxes, progress messages and statuses, and answers boxes
// from a queue (then with a default). onProgress lets a test act in the middle of a run.
#pragma once
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "engine/host.h"

namespace korvane::testing {

class FakeHost final : public Host {
 public:
  struct Box {
    void* owner;
    std::string text;
    std::string title;  // "(none)" when the engine asked for the system's default title
    std::uint32_t style;
  };

  int ShowMessageBox(void* owner, const char* text, const char* title, std::uint32_t style) override {
    boxes.push_back(Box{owner, text, title != nullptr ? title : "(none)", style});
    if (answers.empty()) return defaultAnswer;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void SendProgressMessage(void* window, std::uintptr_t, std::intptr_t) override {
    progressWindows.push_back(window);
    if (onProgress) onProgress();
  }
  void ReportStatus(const char* identifier) override { statuses.emplace_back(identifier); }

  int CountStatus(const std::string& id) const {
    return static_cast<int>(std::count(statuses.begin(), statuses.end(), id));
  }
  bool Saw(const std::string& id) const { return CountStatus(id) > 0; }
  int CountBoxes(const std::string& text) const {
    return static_cast<int>(std::count_if(boxes.begin(), boxes.end(), [&](const Box& b) { return b.text == text; }));
  }

  std::vector<Box> boxes;
  std::vector<std::string> statuses;
  std::vector<void*> progressWindows;
  std::deque<int> answers;    // answers to the next boxes, in order
  int defaultAnswer = kIdOk;  // once the queue is empty
  std::function<void()> onProgress;
};

}  // namespace korvane::testing
