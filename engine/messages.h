// The boxes the engine shows through its host: texts (a %s stands for the volume's name),
// titles and styles. They are the installer's own and are kept exactly, oddities included:
// the titles spell the group's name two ways ("Zendril 1997", "Zendril 97") or are left to the
// system (nullptr), "Archive" is capitalised mid-sentence and the write error reads like a
// code. Front ends that show these differently recognise them by these constants.
#pragma once
#include <cstdint>

#include "engine/host.h"

namespace korvane::messages {

inline constexpr char kCannotFind[] = "Cannot find:\n%s";
inline constexpr char kNotAnArchive[] = "Not a valid Archive:\n%s";
inline constexpr char kCorruptVolume[] = "This archive is corrupt:\n%s";
inline constexpr char kOutOfMemory[] = "Out of Memory";
inline constexpr char kOverwriteAll[] = "Overwrite all files:";
inline constexpr char kWriteError[] = "EWRITE,WRITE_ERROR";
// Not one of the original boxes: a full disk ends the job, so it gets its own, naming the file.
inline constexpr char kDiskFull[] = "The disk is full!\nCannot write:\n%s";

inline constexpr char kVolumeTitle[] = "Zendril 1997";    // missing, damaged or unusable volumes; full disk
inline constexpr char kOverwriteTitle[] = "Zendril 97";   // the overwrite question
inline constexpr char kWriteErrorTitle[] = "FATAL";

inline constexpr std::uint32_t kStopStyle = kMbOk | kMbIconStop;             // 16
inline constexpr std::uint32_t kQuestionStyle = kMbOkCancel | kMbIconStop;   // 0x11

}  // namespace korvane::messages
