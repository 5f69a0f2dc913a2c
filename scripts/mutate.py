#!/usr/bin/env python3
"""Hand-made mutations of the engine, unpack and player code, run against the linux build's
tests: each mutation is applied alone, the affected targets rebuilt and ctest run; a mutation
counts as caught when some test fails (or times out). The sources are restored afterwards.

    scripts/mutate.py [--build build/linux] [--only PREFIX] [--out results.tsv]

The share caught is the figure to compare before and after a change to the tests; a mutation
whose text is no longer found in its file is reported as missing, never silently skipped.
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
    ("E03 unknown host keeps its number", "engine/archive_format.cpp", "if (a.File.HostOS > 3) a.File.HostOS = 0;", ""),
    ("E04 old version 2 -> 14", "engine/archive_format.cpp", "oldVer == 2 ? 13 : 10", "oldVer == 2 ? 14 : 10"),
    ("E05 SFX search ignores the type byte", "engine/volumes.cpp", " && b[i + 9] == kMainHead", ""),
    ("E06 .999 runs over into B", "engine/volumes.cpp", "*p = 'A';", "*p = 'B';"),
    ("E07 no MExtrPoints", "engine/volumes.cpp", "if (insideData) r.Frontend.ReportStatus(status::kExtrPoints);", ""),
    ("E08 PercentOf scales at 10000", "engine/data_io.cpp", "if (done > 10000) {", "if (done >= 10000) {"),
    ("E09 read never moves on", "engine/data_io.cpp",
     "if (reader.PackedLeft > 0 || !reader.EntryContinues) break;", "if (reader.PackedLeft > 0) break;"),
    ("E10 version 21 known", "engine/entry_decision.cpp", "h.UnpVer > 20;", "h.UnpVer > 21;"),
    ("E11 volume labels extracted", "engine/entry_decision.cpp", "if (h.FileAttr & 0x08) return d;", ""),
    ("E12 first solid 1.5 entry continues", "engine/extraction.cpp",
     "run.EntriesSinceOpen > 1 && a.SolidArchive", "run.EntriesSinceOpen > 0 && a.SolidArchive"),
    ("E13 drive prefix kept", "engine/extraction.cpp", "if (p[0] != '\\0' && p[1] == ':') p += 2;", ""),
    ("E14 old checksum rotates wrongly", "engine/checksum.cpp", "(s << 1) | (s >> 15)", "(s << 1) | (s >> 14)"),
    ("E15 first-volume search inverted", "engine/extraction.cpp",
     "CompareNoCase(dot, \".rar\") == 0", "CompareNoCase(dot, \".rar\") != 0"),
    ("E16 names compared with case", "engine/file_ops.cpp",
     "return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 32) : u;", "return u;"),
    # unpack
    ("U01 empty refill forgets the kept bytes", "unpack/bit_input.cpp", "s.PackedFill = kept > 0 ? kept : 0;",
     "s.PackedFill = 0;"),
    ("U02 exhausted after three empty refills", "unpack/bit_input.h", "return s.EmptyRefills >= 2;",
     "return s.EmptyRefills >= 3;"),
    ("U03 empty window counts as nearly full", "unpack/bit_input.h",
     "< kWindowReserve && s.FlushedPos != s.WindowPos", "< kWindowReserve"),
    ("U04 recent-match bonus from 258", "unpack/unpack20.cpp", "if (distance >= 257) length += 1;",
     "if (distance > 257) length += 1;"),
    ("U05 repeat at position 0 repeats 1", "unpack/unpack20.cpp", "value = i > 0 ? lengths[i - 1] : 0;",
     "value = i > 0 ? lengths[i - 1] : 1;"),
    ("U06 audio channel kept past the count", "unpack/unpack20.cpp",
     "if (s.AudioChannel >= s.AudioChannels) s.AudioChannel = 0;\n    SkipBits(s, 2);", "SkipBits(s, 2);"),
    ("U07 trailing symbol with 4 bytes", "unpack/unpack20.cpp", "kTrailingSymbolBytes = 5;",
     "kTrailingSymbolBytes = 4;"),
    ("U08 weight floor -17 -> -16", "unpack/audio.h", "if (weight >= -16) weight -= 1;",
     "if (weight > -16) weight -= 1;"),
    ("U09 error sum 4 of the wrong sign", "unpack/audio.h", "c.ErrorSum[4] += Magnitude(e + c.Delta[1]);",
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
]


def run(cmd, timeout=None):
    return subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=timeout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--only", default="", help="run the mutations whose name starts with this")
    parser.add_argument("--out", default="")
    parser.add_argument("--jobs", default="2")
    args = parser.parse_args()

    chosen = [m for m in MUTATIONS if m[0].startswith(args.only)]
    build = ["cmake", "--build", args.build, "-j", args.jobs]
    test = ["ctest", "--test-dir", args.build, "-j", args.jobs, "--timeout", "180", "--output-on-failure"]
    if run(build).returncode != 0 or run(test).returncode != 0:
        sys.exit("mutate.py: the unmutated build must build and pass first")

    rows = []
    for name, file, text, replacement in chosen:
        path = ROOT / file
        original = path.read_text()
        if original.count(text) != 1:
            rows.append((name, "missing", ""))
            print(f"{name:50} missing", flush=True)
            continue
        start = time.time()
        try:
            path.write_text(original.replace(text, replacement))
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
    for subsystem in "EUP":
        part = [v for n, v, _ in rows if n[0] == subsystem and v in ("caught", "survived")]
        if part:
            print(f"{subsystem}: {part.count('caught')}/{len(part)} caught")
    print(f"caught {caught} of {len(counted)} ({100.0 * caught / max(1, len(counted)):.0f}%)"
          f"; {len(rows) - len(counted)} not counted (missing or not building)")
    if args.out:
        pathlib.Path(args.out).write_text("".join(f"{n}\t{v}\t{c}\n" for n, v, c in rows))


if __name__ == "__main__":
    main()
