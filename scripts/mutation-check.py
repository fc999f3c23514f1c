#!/usr/bin/env python3
"""Plants one-token faults in the core, one at a time, and reports which the tests catch.

Usage: scripts/mutation-check.py [BUILD_DIR]   (default build/core, configured with the core preset)

Each mutation replaces one exact piece of a source file (it must occur exactly once), rebuilds,
runs ctest and restores the file. A mutation the tests catch is "caught"; one whose text is not
found (the code moved) is "n/a". Run it on a clean tree: files are restored even on Ctrl-C.
"""
import pathlib
import subprocess
import sys

CORE = pathlib.Path("Sources/QuenlitorMIDICore")

# (area, file, original, mutated). Flipping the root-position ranking key is left out: the
# principal is the first root-position fit and the alternatives list those first, so no output
# depends on it.
MUTATIONS = [
    ("decoder", "MIDIStream.cpp", "(hi == 0x80) | (d1 == 0)", "(hi == 0x80) & (d1 == 0)"),
    ("decoder", "MIDIStream.cpp", "(d0 == 123 || d0 == 120)", "(d0 == 123)"),
    ("decoder", "MIDIStream.cpp", "if (b < 0x80) {", "if (b <= 0x80) {"),
    ("decoder", "MIDIStream.cpp", "} else if (b >= 0xF8) {", "} else if (b > 0xF8) {"),
    ("decoder", "MIDIStream.cpp", "status = b < 0xF0 ? b : 0;", "status = b <= 0xF0 ? b : 0;"),
    ("decoder", "MIDIStream.cpp", "first.reset(); // running status", "// running status"),
    ("decoder", "MIDIStream.cpp", "return (status & 0xE0) == 0xC0;", "return (status & 0xF0) == 0xC0;"),
    ("decoder", "MIDIStream.cpp", "bytes[i + 1] < 0x80) {", "bytes[i + 1] <= 0x80) {"),
    ("session", "MIDIStream.cpp", "if (!m_held.empty()) {", "if (m_held.size() > 1) {"),
    ("session", "MIDIStream.cpp", "Key{source, message.channel(), message.note()}) == 0)",
     "Key{0, message.channel(), message.note()}) == 0)"),
    ("session", "MIDIStream.cpp", "--keys->second == 0", "--keys->second < 0"),
    ("session", "MIDIStream.cpp", "m_captured.clear();\n        return gesture;", "return gesture;"),
    ("generator", "TokenGenerator.cpp", "distinct[i] - distinct[i - 1] <= 12", "distinct[i] - distinct[i - 1] < 12"),
    ("generator", "TokenGenerator.cpp", "distinct.front() < lowestPianoKey", "distinct.front() <= lowestPianoKey"),
    ("generator", "TokenGenerator.cpp", "distinct.back() > highestPianoKey", "distinct.back() >= highestPianoKey"),
    ("generator", "TokenGenerator.cpp", "std::to_string(note / 12 - 1)", "std::to_string(note / 12)"),
    ("generator", "TokenGenerator.cpp", "if (includeTitle && !token.title.empty()) {", "if (includeTitle) {"),
    ("generator", "TokenGenerator.cpp", "const bool bare = i > 0 &&", "const bool bare = i > 1 &&"),
    ("controller", "CaptureController.hpp", "historyLimit = 10;", "historyLimit = 11;"),
    ("controller", "CaptureController.cpp", "m_history.empty() || m_history.front().text != token.text",
     "m_history.empty() || true"),
    ("ranking", "ChordRecognizer.cpp", "return p.isCustom;", "return q.isCustom;"),
    ("ranking", "ChordRecognizer.cpp", "return p.requiredCount > q.requiredCount;", "return p.requiredCount < q.requiredCount;"),
    ("ranking", "ChordRecognizer.cpp", "return a.optionalPresent > b.optionalPresent;",
     "return a.optionalPresent < b.optionalPresent;"),
    ("ranking", "ChordRecognizer.cpp", "return p.nameOrder < q.nameOrder;", "return p.nameOrder > q.nameOrder;"),
    ("ranking", "ChordRecognizer.cpp", "[](const Match& m) { return m.bassIsRoot; }", "[](const Match& m) { return !m.bassIsRoot; }"),
]


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs).returncode


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/core"
    if run(["cmake", "--build", build]) != 0 or run(["ctest", "--test-dir", build, "-j2"]) != 0:
        sys.exit("mutation-check: the unmutated tree must build and pass its tests first")
    caught = planted = 0
    for area, name, original, mutated in MUTATIONS:
        path = CORE / name
        text = path.read_text()
        if text.count(original) != 1:
            print(f"n/a     {area:10} {name}: {original!r}")
            continue
        planted += 1
        try:
            path.write_text(text.replace(original, mutated))
            built = run(["cmake", "--build", build]) == 0
            failed = not built or run(["ctest", "--test-dir", build, "-j2", "--stop-on-failure"]) != 0
        finally:
            path.write_text(text)
        caught += failed
        print(f"{'caught' if failed else 'MISSED':7} {area:10} {name}: {original!r} -> {mutated!r}", flush=True)
    run(["cmake", "--build", build])
    print(f"mutation-check: {caught} of {planted} planted faults caught")


if __name__ == "__main__":
    main()
