#include "ui/engine_boxes.h"

#include <cstdio>

namespace korvane::ui {
namespace {

constexpr char kVolumeTitle[] = "Zendril 1997";   // missing, damaged or unusable volumes; full disk
constexpr char kOverwriteTitle[] = "Zendril 97";  // the overwrite question
constexpr char kWriteErrorTitle[] = "FATAL";
constexpr std::uint32_t kStop = kMbOk | kMbIconStop;
constexpr std::uint32_t kQuestion = kMbOkCancel | kMbIconStop;

}  // namespace

EngineBox BoxFor(Notice notice) {
  switch (notice) {
    case Notice::kCannotFind:
      return {"Cannot find:\n%s", kVolumeTitle, kStop, true};
    case Notice::kNotAnArchive:
      return {"Not a valid Archive:\n%s", nullptr, kStop, true};
    case Notice::kCorruptVolume:
      return {"This archive is corrupt:\n%s", kVolumeTitle, kStop, true};
    case Notice::kOutOfMemory:
      return {"Out of Memory", nullptr, kMbOk, true};
    case Notice::kWriteError:
      return {"EWRITE,WRITE_ERROR", kWriteErrorTitle, kMbOk, false};
    case Notice::kDiskFull:
      // Not one of the original boxes: a full disk ends the job, so it gets its own.
      return {"The disk is full!\nCannot write:\n%s", kVolumeTitle, kStop, true};
  }
  return {"", nullptr, kMbOk, true};
}

EngineBox BoxFor(Question question) {
  switch (question) {
    case Question::kOverwriteAll:
      return {"Overwrite all files:", kOverwriteTitle, kQuestion, true};
  }
  return {"", nullptr, kQuestion, true};
}

void FormatBoxText(const EngineBox& box, const char* subject, char* text, std::size_t capacity) {
  std::snprintf(text, capacity, box.Format, subject != nullptr ? subject : "");
}

}  // namespace korvane::ui
