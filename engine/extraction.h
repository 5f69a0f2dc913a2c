// The extraction driver: one call runs a whole test or install of the archive
// named in the job, across its volumes, and returns the number of entries processed.
#pragma once
#include <cstdint>

#include "engine/archive_reader.h"
#include "engine/job.h"
#include "engine/output_file.h"
#include "unpack/unpack_state.h"

namespace korvane {

// Runs job.Mode on job.ArchiveName through reader, whose host is told what goes wrong, asked
// the questions and receives the statuses; while a status is reported, reader.Archive holds the
// entry concerned. Returns the entries extracted or tested (directories included, entries
// decoded only for a solid archive's dictionary excluded); 0 when the archive could not be
// opened, was not an archive, memory ran out, the first volume of a solid archive was missing,
// or nothing was processed. job.ErrorCount receives the number of entries that failed. unpack
// is the decompression state the program owns; it carries a solid dictionary from entry to
// entry.
std::int32_t RunExtraction(ArchiveReader& reader, UnpackState& unpack, ExtractionJob& job);

// Gives the (temporary) file its stored permissions and attributes (read-only, hidden, system,
// archive) and sets its times from the MS-DOS stamp taken as local time.
void ApplyFileTimeAndAttributes(const FileHeader& header, OutputFile& output);

}  // namespace korvane
