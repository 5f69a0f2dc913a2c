#!/usr/bin/env python3
"""Hand-made mutations of the engine, unpack, pack, player, ui, platform and tool code, run against the linux build's
tests: each mutation is applied alone, the affected targets rebuilt and ctest run; a mutation
counts as caught when some test fails (or times out). The sources are restored afterwards.

    scripts/mutate.py [--build build/linux] [--only PREFIX] [--out results.tsv]

The share caught is the figure to compare before and after a change to the tests. A mutation
is keyed to its text's shape, not its spelling: a constant's name (kSomething) stands for any
constant there and a run of blanks for any blanks, so renaming a constant or rewrapping a line
keeps the mutant (the exact text is taken first where it stands once). One whose shape is no longer found exactly once in its file is reported as
missing, never silently skipped.
"""
import argparse
import pathlib
import re
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent

# (name, file, text, replacement): the text must occur exactly once in the file.
MUTATIONS = [
    # engine
    ("E01 head size floor 7 -> 6", "engine/archive_format.cpp", "a.File.HeadSize < 7 ||", "a.File.HeadSize < 6 ||"),
    ("E02 old name size limit 80 -> 81", "engine/archive_format.cpp", "h.NameSize > 80", "h.NameSize > 81"),
    ("E03 unknown host keeps its number", "engine/archive_format.cpp", "if (a.File.HostOS > kHostUnix) a.File.HostOS = kHostMsdos;", ""),
    ("E04 old version 2 -> 14", "engine/archive_format.cpp", "oldVer == 2 ? kOldestUnpackVersion : 10", "oldVer == 2 ? 14 : 10"),
    ("E05 SFX search ignores the type byte", "engine/volumes.cpp", " && b[i + 9] == kMainHead", ""),
    ("E06 .999 runs over into B", "archive/archive_layout.cpp", "*p = 'A';", "*p = 'B';"),
    ("E07 no MExtrPoints", "engine/volumes.cpp", "if (insideData) r.Frontend.ReportStatus(Status::kExtrPoints);", ""),
    ("E08 PercentOf scales at 10000", "engine/data_io.cpp", "if (done > 10000) {", "if (done >= 10000) {"),
    ("E09 read never moves on", "engine/data_io.cpp",
     "if (reader.PackedLeft > 0 || !reader.EntryContinues) break;", "if (reader.PackedLeft > 0) break;"),
    ("E10 version 21 known", "engine/entry_decision.cpp", "h.UnpVer > kNewestUnpackVersion;", "h.UnpVer > 21;"),
    ("E11 volume labels extracted", "engine/entry_decision.cpp", "if (h.FileAttr & kDosVolumeLabel) return d;", ""),
    ("E12 first solid 1.5 entry continues", "engine/extraction.cpp",
     "run.EntriesSinceOpen > 1 && a.SolidArchive", "run.EntriesSinceOpen > 0 && a.SolidArchive"),
    ("E13 drive prefix kept", "engine/entry_name.cpp", "if (p[0] != '\\0' && p[1] == ':') p += 2;", ""),
    ("E14 old checksum rotates wrongly", "engine/checksum.cpp", "(s << 1) | (s >> 15)", "(s << 1) | (s >> 14)"),
    ("E15 first-volume search inverted", "engine/extraction.cpp",
     "CompareNoCase(dot, \".rar\") == 0", "CompareNoCase(dot, \".rar\") != 0"),
    ("E16 names compared with case", "engine/file_ops.cpp",
     "return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 32) : u;", "return u;"),
    ("E21 a failed entry keeps its temporary file", "engine/output_file.cpp",
     "if (TempName[0] != '\\0') DeleteFilePath(GuardedPath(TempName, Root));", ""),
    ("E22 a failed entry replaces the old file", "engine/extraction.cpp",
     "  if (bad) {\n    s.Output.Discard();\n    return;\n  }\n", ""),
    ("E23 the destination's own folders guarded", "engine/extraction.cpp",
     "RootLength(std::strlen(job.DestinationDir))", "RootLength(0)"),
    ("E24 undo keeps the files it made", "engine/install_journal.cpp",
     "  for (const std::string& f : Files) complete = DeleteFilePath(GuardedPath(f.c_str(), Root)) && complete;\n", ""),
    ("E25 an own file set aside again", "engine/output_file.cpp", " && !journal->Touched(Final.c_str())", ""),
    ("E26 a cut fixed header ends quietly", "engine/archive_format.cpp",
     "} else if (r.Input.Length() < a.NextBlockPos || HeaderCut(r)) {", "} else if (r.Input.Length() < a.NextBlockPos) {"),
    ("E27 a cut name read as a name", "engine/archive_format.cpp", "  if (got != want) return false;\n", ""),
    ("E28 a short complete block counted as a cut", "engine/archive_format.cpp", "return need > left;",
     "return need >= left;"),
    ("E29 data cut judged from the block's start", "engine/extraction.cpp",
     "r.Input.Length() < r.Archive.NextBlockPos);", "r.Input.Length() < r.Archive.CurrentBlockPos);"),
    ("E30 stored data may exceed its size", "engine/extraction.cpp", "run.Session.StoredPacked != h.UnpSize;",
     "run.Session.StoredPacked < h.UnpSize;"),
    ("E31 names too long for the reader extracted", "engine/extraction.cpp", " && adapted && !a.NameTooLong;",
     " && adapted;"),
    ("E32 cut volumes not counted", "engine/extraction.cpp", "  run.ErrorCount += reader.CutVolumes;\n", ""),
    # unpack
    ("U01 empty refill forgets the kept bytes", "unpack/bit_input.cpp", "s.PackedFill = kept > 0 ? kept : 0;",
     "s.PackedFill = 0;"),
    ("U02 exhausted after three empty refills", "unpack/bit_input.h", "return s.EmptyRefills >= 2;",
     "return s.EmptyRefills >= 3;"),
    ("U03 empty window counts as nearly full", "unpack/bit_input.h",
     "< kWindowReserve && s.FlushedPos != s.WindowPos", "< kWindowReserve"),
    ("U04 recent-match bonus from 258", "unpack/format20_codes.h", "(distance >= 257 ? 1u : 0u)",
     "(distance > 257 ? 1u : 0u)"),
    ("U05 repeat at position 0 repeats 1", "unpack/unpack20.cpp", "value = i > 0 ? lengths[i - 1] : 0;",
     "value = i > 0 ? lengths[i - 1] : 1;"),
    ("U06 audio channel kept past the count", "unpack/unpack20.cpp",
     "if (s.AudioChannel >= s.AudioChannels) s.AudioChannel = 0;\n    SkipBits(s, 2);", "SkipBits(s, 2);"),
    ("U07 trailing symbol with 4 bytes", "unpack/unpack20.cpp", "kTrailingSymbolBytes = 5;",
     "kTrailingSymbolBytes = 4;"),
    ("U08 weight floor -17 -> -16", "unpack/audio_predictor.h", "if (weight >= -16) weight -= 1;",
     "if (weight > -16) weight -= 1;"),
    ("U09 error sum 4 of the wrong sign", "unpack/audio_predictor.h", "c.ErrorSum[4] += Magnitude(e + c.Delta[1]);",
     "c.ErrorSum[4] += Magnitude(e - c.Delta[1]);"),
    ("U10 literal mode after 17", "unpack/unpack15.cpp", "if (s.LiteralRun >= 16 && s.FlagBitsLeft == 0)",
     "if (s.LiteralRun >= 17 && s.FlagBitsLeft == 0)"),
    ("U11 near bonus below 256", "unpack/unpack15.cpp", "if (distance <= 256) length += 8;",
     "if (distance < 256) length += 8;"),
    ("U12 short code toggle stuck", "unpack/unpack15.cpp", "s.ShortCodeToggle ^= 1;", ""),
    ("U13 literal counter limit A2", "unpack/unpack15.cpp", "(v & 0xFF) > 0xA1", "(v & 0xFF) > 0xA2"),
    ("U14 no abort poll between wrapped writes", "unpack/bit_input.cpp",
     "    if (AbortRequested(io)) return;\n    io.WriteUnpackedData(s.Window, s.WindowPos);",
     "    io.WriteUnpackedData(s.Window, s.WindowPos);"),
    # player
    ("P01 slide-up limit 53", "player/sequencer.cpp", "kSlideUpLimit = 54;", "kSlideUpLimit = 53;"),
    ("P02 sample offset in 128-frame steps", "player/sequencer.cpp", "ch.position = cell.param << 18;",
     "ch.position = cell.param << 17;"),
    ("P03 pattern break above 63 goes to row 1", "player/sequencer.cpp", "state.rowPos = row > 63 ? 0 : row;",
     "state.rowPos = row > 63 ? 1 : row;"),
    ("P04 ticks per second rounded up", "player/sequencer.cpp", "ticksPerSecond = (2 * tempo) / 5;",
     "ticksPerSecond = (2 * tempo + 1) / 5;"),
    ("P05 tremolo half as deep", "player/sequencer.cpp", "* ch.tremoloDepth) >> 6;", "* ch.tremoloDepth) >> 7;"),
    ("P06 wave never turns negative", "player/sequencer.cpp", "ch.waveNegative = !ch.waveNegative;", ""),
    ("P07 bare note with a command restarts", "player/sequencer.cpp",
     "if (cell.sample == 0 && cell.command == 0) ch.position = 0;", "if (cell.sample == 0) ch.position = 0;"),
    ("P08 arpeggio uses y twice", "player/sequencer.cpp", "case 1: SetFrequency(ch, PeriodAt(base + 8 * x)); break;",
     "case 1: SetFrequency(ch, PeriodAt(base + 8 * y)); break;"),
    ("P09 channel 2 on the left", "player/mixer.cpp", "(side == 0 || side == 3) ? left : right;",
     "(side == 0 || side == 2) ? left : right;"),
    ("P10 volume capped at 63", "player/mixer.cpp", "(volume > 64 ? 64 : volume)", "(volume > 63 ? 63 : volume)"),
    ("P11 no interpolation", "player/mixer.cpp", "const std::int32_t d1 = data[i + 1];",
     "const std::int32_t d1 = data[i];"),
    ("P12 cross-feed from the same side", "player/mixer.cpp",
     "out[2 * i] = Clip(accLeft[i] + accRight[i - kDelayFrames]);",
     "out[2 * i] = Clip(accLeft[i] + accLeft[i - kDelayFrames]);"),
    ("P13 finetune 8 read as +8", "player/loader.cpp", "s.finetune = finetune > 7 ? finetune - 16 : finetune;",
     "s.finetune = finetune > 8 ? finetune - 16 : finetune;"),
    ("P14 measure checks every tick", "player/play_state.cpp", "    if (player.tick != 0) return true;\n", ""),
    ("E17 '*' allowed in Windows names", "engine/entry_name.cpp", "std::strchr(\":<>\\\"|?*\", c)",
     "std::strchr(\":<>\\\"|?\", c)"),
    ("E18 NUL not a device", "engine/entry_name.cpp", " || base == \"NUL\")", ")"),
    ("E19 trailing spaces kept", "engine/entry_name.cpp",
     "(component.back() == '.' || component.back() == ' ')", "(component.back() == '.')"),
    ("E20 directories counted for space", "engine/space_check.cpp", "(h.FileAttr & (0x08 | 0x10)) == 0",
     "(h.FileAttr & 0x08) == 0"),
    # pack
    ("K01 short distance off by one", "pack/block_coder.cpp",
     "out.Put(t.Value - 1 - kShortDistanceBase[k], kShortDistanceExtraBits[k]);",
     "out.Put(t.Value - kShortDistanceBase[k], kShortDistanceExtraBits[k]);"),
    ("K02 channel count written as is", "pack/table_block.cpp", "out.Put(plan.Channels - 1, kChannelBits);",
     "out.Put(plan.Channels, kChannelBits);"),
    ("K03 canonical codes from the wrong length", "pack/prefix_code.cpp",
     "code = (code + perLength[length - 1]) << 1;", "code = (code + perLength[length]) << 1;"),
    ("K04 channel kept past a smaller count", "pack/stream_state.cpp",
     "if (AudioChannel >= channels) AudioChannel = 0;", ""),
    ("K05 multimedia kept when larger", "pack/encoder.cpp", "if (mixed.BitCount() < lz.BitCount())",
     "if (mixed.BitCount() > lz.BitCount())"),
    ("K06 continued parts not flagged", "archive/archive_writer.cpp", "if (part.ContinuesFromPrevious) flags |= kSplitBefore;",
     ""),
    ("K07 solid entries not flagged", "archive/archive_writer.cpp", "if (s.Solid) flags |= kSolidEntry;", ""),
    ("K08 name limit one byte short", "archive/archive_writer.cpp", "if (name.size() > kMaxNameBytes) {",
     "if (name.size() >= kMaxNameBytes) {"),
    # ui
    ("I01 runs marked by 0x80", "ui/pcx.cpp", "if ((value & 0xC0) == 0xC0) {", "if ((value & 0xC0) == 0x80) {"),
    ("I02 planes unchecked", "ui/pcx.cpp", " || head[kPlanesOffset] != 1) return false;", ") return false;"),
    ("I03 ticker wraps one early", "ui/ticker.cpp", "if (++ticker.StartIndex > length)",
     "if (++ticker.StartIndex >= length)"),
    ("I04 gauge not clamped at 1", "ui/gauge.cpp", "return f > 1.0f ? 1.0f : f;", "return f;"),
    ("I05 button rounding at .4", "ui/buttons.cpp", "return static_cast<std::int32_t>(v + 0.5);",
     "return static_cast<std::int32_t>(v + 0.4);"),
    ("I06 nearest colour takes the last tie", "ui/palette_dib.cpp", "if (distance < bestDistance) {",
     "if (distance <= bestDistance) {"),
    # platform
    ("F01 DOS years from 1981", "archive/archive_layout.cpp", "static_cast<int>(t >> 25) + 1980",
     "static_cast<int>(t >> 25) + 1981"),
    ("F02 29 February every year", "archive/archive_layout.cpp", "  if (t.Month == 2 && t.Day == 29 && !leap) return false;\n",
     ""),
    ("F03 z not folded", "platform/file_posix.cpp", "if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);",
     "if (c >= 'a' && c <= 'y') c = static_cast<char>(c - 32);"),
    ("F04 a short simulated write not reported", "platform/disk_space.cpp",
     "g_simulatedFull = written == fits && fits < count;", "g_simulatedFull = false;"),
    ("F05 links below the destination followed", "platform/file_posix.cpp",
     "::openat(fd, parts[i].c_str(), kFolderOpen | O_NOFOLLOW)", "::openat(fd, parts[i].c_str(), kFolderOpen)"),
    ("F06 set-id bits kept", "platform/file_posix.cpp", "static_cast<mode_t>(unixMode & 0777)",
     "static_cast<mode_t>(unixMode & 07777)"),
    # tools
    ("T06 SIGTERM exits as SIGINT", "tools/cli/extract_command.cpp", "return 128 + g_signal;", "return 130;"),
    ("T01 list ratio in tenths", "tools/cli/list_command.cpp", "e.PackedSize * 100 / e.UnpackedSize",
     "e.PackedSize * 10 / e.UnpackedSize"),
    ("T02 progress bar in fourths", "tools/cli/progress_line.cpp", "i < percent / 5 ? '#' : '.'",
     "i < percent / 4 ? '#' : '.'"),
    ("T03 overwrite-all asks again", "tools/cli/console_host.cpp",
     "  if (OverwriteAnswer == Overwrite::kAll) return true;\n", ""),
    ("T04 lower-case o not taken", "tools/cli/console_host.cpp", "line[0] == 'o' || line[0] == 'O'",
     "line[0] == 'O'"),
    ("T05 no arguments exits 0", "tools/cli/main.cpp", "    PrintHelp(kToolCommand, stderr);\n    return 2;",
     "    PrintHelp(kToolCommand, stderr);\n    return 0;"),
    ("T11 a cut archive is no failure", "tools/cli/extract_command.cpp",
     "DisplayName(Job.ArchiveName).c_str());\n      ++Failures;\n", "DisplayName(Job.ArchiveName).c_str());\n"),
    ("T07 later volume taken for the first", "engine/engine.cpp",
     "(reader.Archive.File.HeadFlags & kSplitBefore) == 0)", "(reader.Archive.File.HeadFlags & kSplitAfter) == 0)"),
    ("T09 -- does not end the options", "tools/cli/options.cpp", "    if (word == \"--\") {\n      optionsEnded = true;",
     "    if (word == \"--\") {\n      optionsEnded = false;"),
    ("T10 the first of -y and -n wins", "tools/cli/options.cpp", "if (Position[Index(name)] > at)",
     "if (at == 0 && Position[Index(name)] > at)"),
    ("T08 no warning for a damaged header", "tools/cli/extract_command.cpp", "    case Status::kBrokFileHead: {",
     "    case Status::kBrokArcHead: {"),
]


CONSTANT = re.compile(r"\bk[A-Z]\w*")


def shape(text):
    """A pattern for text in which every constant's name may be any constant's, every run of
    blanks any run of blanks."""
    pattern, at = "", 0
    for m in re.finditer(r"\bk[A-Z]\w*|\s+", text):
        pattern += re.escape(text[at:m.start()]) + (r"\s+" if m.group().isspace() else r"(k[A-Z]\w*)")
        at = m.end()
    return re.compile(pattern + re.escape(text[at:]))


def mutated(source, text, replacement):
    """source with text replaced where it stands exactly once; else with the one place of its
    shape, the constants there renamed as the source names them; else None."""
    if source.count(text) == 1:
        return source.replace(text, replacement)
    places = list(shape(text).finditer(source))
    if len(places) != 1:
        return None
    found = places[0]
    names = dict(zip(CONSTANT.findall(text), found.groups()))
    return source[:found.start()] + CONSTANT.sub(lambda m: names.get(m.group(), m.group()), replacement) + source[found.end():]


def run(cmd, timeout=None):
    return subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace", timeout=timeout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--only", default="", help="run the mutations whose names start with one of these (A,B,..)")
    parser.add_argument("--out", default="")
    parser.add_argument("--jobs", default="2")
    parser.add_argument("--check", action="store_true", help="only check that every mutation is found")
    args = parser.parse_args()

    chosen = [m for m in MUTATIONS if m[0].startswith(tuple(args.only.split(",")))]
    if args.check:
        missing = [m[0] for m in chosen if mutated((ROOT / m[1]).read_text(), m[2], m[3]) is None]
        print("\n".join(f"{name:50} missing" for name in missing) or f"all {len(chosen)} mutations found")
        sys.exit(1 if missing else 0)
    build = ["cmake", "--build", args.build, "-j", args.jobs]
    test = ["ctest", "--test-dir", args.build, "-j", args.jobs, "--timeout", "180", "--output-on-failure"]
    if run(build).returncode != 0 or run(test).returncode != 0:
        sys.exit("mutate.py: the unmutated build must build and pass first")

    rows = []
    for name, file, text, replacement in chosen:
        path = ROOT / file
        original = path.read_text()
        changed = mutated(original, text, replacement)
        if changed is None:
            rows.append((name, "missing", ""))
            print(f"{name:50} missing", flush=True)
            continue
        start = time.time()
        try:
            path.write_text(changed)
            catchers = ""
            if run(build).returncode != 0:
                verdict = "build-error"
            else:
                try:
                    result = run(test, timeout=900)
                    verdict = "caught" if result.returncode != 0 else "survived"
                    # Which tests caught it: gtest cases, else the ctest entries that failed.
                    found = sorted(set(re.findall(r"^\[  FAILED  \] (\S+?)(?:,| \(|$)", result.stdout, re.M)))
                    found = found or re.findall(r"^\s+\d+ - (\S+) \(", result.stdout, re.M)
                    catchers = " ".join(found)
                except subprocess.TimeoutExpired:
                    verdict, catchers = "caught", "(timeout)"
        finally:
            path.write_text(original)
        rows.append((name, verdict, catchers))
        print(f"{name:50} {verdict:12} {time.time() - start:5.0f}s {catchers}", flush=True)
    run(build)

    counted = [v for _, v, _ in rows if v in ("caught", "survived")]
    caught = counted.count("caught")
    for subsystem in "EUPKIFT":
        part = [v for n, v, _ in rows if n[0] == subsystem and v in ("caught", "survived")]
        if part:
            print(f"{subsystem}: {part.count('caught')}/{len(part)} caught")
    print(f"caught {caught} of {len(counted)} ({100.0 * caught / max(1, len(counted)):.0f}%)"
          f"; {len(rows) - len(counted)} not counted (missing or not building)")
    if args.out:
        pathlib.Path(args.out).write_text("".join(f"{n}\t{v}\t{c}\n" for n, v, c in rows))


if __name__ == "__main__":
    main()
