#include "engine/entry_decision.h"

namespace korvane {

EntryDecision DecideEntry(const FileHeader& h, bool nameUsable, JobMode mode, bool solidArchive) {
  EntryDecision d;
  d.WithoutOutput = solidArchive ? EntryAction::kDecodeForDictionary : EntryAction::kSkipFile;
  const bool continued = (h.HeadFlags & kSplitBefore) != 0;
  // Outside a solid archive a part whose start lies in an earlier volume cannot be decoded.
  if (continued && !solidArchive) return d;
  // In a solid archive it can only follow a move at a block boundary after an entry that was
  // decoded for the dictionary; it is decoded the same way.
  const bool forDictionary = continued;
  d.UnknownMethod = h.UnpVer < kOldestUnpackVersion || h.UnpVer > kNewestUnpackVersion;
  bool extract = !forDictionary && !d.UnknownMethod;
  if (d.UnknownMethod && !forDictionary) d.Errors += 1;
  if (h.FileAttr & kDosVolumeLabel) return d;  // nothing to do
  if (h.FileAttr & kDosDirectory) {
    if (forDictionary) {
      d.Action = EntryAction::kPassOverDirectory;
    } else if (!nameUsable) {
      d.Errors += 1;
    } else {
      d.Action = EntryAction::kDirectory;
    }
    return d;
  }
  if (extract && !nameUsable) {
    d.UnusableName = true;
    d.Errors += 1;
    extract = false;
  }
  if (extract) {
    d.Action = mode == JobMode::kInstall ? EntryAction::kExtract : EntryAction::kTest;
  } else {
    d.Action = d.WithoutOutput;
  }
  return d;
}

}  // namespace korvane
