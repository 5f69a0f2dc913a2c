// What the driver does with one entry, decided from its header, the run's mode and the
// archive's solidity alone. The driver carries the decision out, one function per action.
#pragma once
#include <cstdint>

#include "engine/archive_reader.h"
#include "engine/job.h"

namespace korvane {

enum class EntryAction : std::uint8_t {
  kPassOver,             // nothing at all: a continued part outside a solid archive, a volume
                         // label, a directory whose path does not fit
  kPassOverDirectory,    // a directory met while decoding for the dictionary ("MExtrSkipDir")
  kDirectory,            // counted; created when installing, reported when testing
  kSkipFile,             // a file that is neither written nor decoded
  kExtract,              // a file created, decoded, checked and finished
  kTest,                 // a file decoded and checked without output
  kDecodeForDictionary,  // a file of a solid archive decoded without output or count
};

struct EntryDecision {
  EntryAction Action = EntryAction::kPassOver;
  bool UnknownMethod = false;  // report "MExtrUnknMeth" before anything else
  bool UnusableName = false;   // report "MExtrErrCreat": the output path does not fit
  std::int32_t Errors = 0;     // failures the entry counts whatever happens next
  // What a file becomes when its output cannot be created: kDecodeForDictionary in a solid
  // archive (the entries after it need its data in the dictionary), otherwise kSkipFile.
  EntryAction WithoutOutput = EntryAction::kSkipFile;
};

// header: the entry (flags, version, attributes). nameUsable: the sanitised name is not empty
// and the destination and name together fit the path limit.
EntryDecision DecideEntry(const FileHeader& header, bool nameUsable, JobMode mode, bool solidArchive);

}  // namespace korvane
