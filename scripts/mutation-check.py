#!/usr/bin/env python3
"""Plants one-token faults, one at a time, and fails unless the tests see each of them.

Usage: scripts/mutation-check.py [options] [BUILD_DIR]   (default build/dev, configured with the dev preset)

  --all           every fault (the campaign before a release); the default
  --sample N      N faults chosen from the commit's hash: each commit tries other ones, and the
                  same commit always the same ones (what CI runs)
  --area A,B      only the faults of these areas (--list shows them)
  --only TEXT     only the faults whose file name or original text holds TEXT
  --list          the faults, their areas and tests, without planting any
  --lock FILE     hold an flock on FILE around each build and test run (a machine shared with
                  other builds)

A fault replaces one exact piece of a source file, which must occur there exactly once, rebuilds
only the test programs of the tests it names (a ctest -R expression) and runs those tests. A
fault whose tests fail is "caught" (one whose code no longer builds too, shown "unbuilt": the
compiler saw it, not a test, and a better fault is due). One that passes is MISSED,
unless it is listed as equivalent, with the reason no test can see it. A fault whose text is not
found exactly once (the code moved) is "n/a": every run checks every fault's text, and an n/a
fails the run, since a fault that silently drops out is a guard gone. Files are restored even on
Ctrl-C; run it on a clean tree. Exit status: 0 when every planted fault was caught or listed.
"""
import argparse
import contextlib
import dataclasses
import fcntl
import hashlib
import json
import os
import pathlib
import re
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent


@dataclasses.dataclass(frozen=True)
class Fault:
    area: str
    file: str
    original: str
    mutated: str
    tests: str
    # Why no test can see it: the change is equivalent for everything a person or a program sees.
    equivalent: str = ""

    def key(self):
        return f"{self.file}:{self.original}"


def faults(area, file, tests, *changes):
    """The faults of one area in one file, seen by the same tests: (original, mutated[, equivalent])."""
    return [Fault(area, file, *change[:2], tests, *change[2:]) for change in changes]


CORE = "Sources/QuenlitorMIDICore/"
APP = "Sources/QuenlitorMIDI/"
QT = "platform/qt/"
WAYLAND = "platform/wayland/"
ALSA = "platform/alsa/"

DECODER_TESTS = r"^(MIDIStreamDecoder|CaptureSession)\."
GENERATOR_TESTS = r"^TokenGenerator\."
CONTROLLER_TESTS = r"^CaptureControllerTest\."
RANKING_TESTS = r"^(ChordRecognizer|ChordAnalysis|ChordPattern)\."
PLACEMENT_TESTS = r"^StatusPlacement\.EveryMove"
ITEM_TESTS = r"^(QtStatusItem|StatusNotifierItem|StatusPlacement)\.|^QtApplication\.ClosingTheWindow"
NOTIFIER_TESTS = r"^(StatusNotifierItem|StatusPlacement)\."
DBUSMENU_TESTS = r"^DBusMenu\."
HOSTS_TESTS = r"^SessionTrayHosts\."
WAYLAND_TESTS = r"^(DataControlFaults|QtWaylandClipboard)\."
CLAIM_TESTS = r"^SelectionClaim\."
SETTINGS_TESTS = r"^JsonSettingsStore\."
IDENTITY_TESTS = r"^ALSASourceIdentity\."
APP_TESTS = r"^AppDelegateTest\."

# Flipping the root-position ranking key is left out: the principal is the first root-position
# fit and the alternatives list those first, so no output depends on it.
FAULTS = [
    # The core: the MIDI stream, the gesture, the token, the controller, the chord ranking.
    *faults("decoder", CORE + "MIDIStream.cpp", DECODER_TESTS,
        ("(hi == 0x80) | (d1 == 0)", "(hi == 0x80) & (d1 == 0)"),
        ("(d0 == 123 || d0 == 120)", "(d0 == 123)"),
        ("if (b < 0x80) {", "if (b <= 0x80) {"),
        ("} else if (b >= 0xF8) {", "} else if (b > 0xF8) {"),
        ("status = b < 0xF0 ? b : 0;", "status = b <= 0xF0 ? b : 0;"),
        ("first.reset(); // running status", "// running status"),
        ("return (status & 0xE0) == 0xC0;", "return (status & 0xF0) == 0xC0;"),
        ("bytes[i + 1] < 0x80) {", "bytes[i + 1] <= 0x80) {")),
    *faults("session", CORE + "MIDIStream.cpp", DECODER_TESTS,
        ("if (!m_held.empty()) {", "if (m_held.size() > 1) {"),
        ("Key{source, message.channel(), message.note()}) == 0)", "Key{0, message.channel(), message.note()}) == 0)"),
        ("--keys->second == 0", "--keys->second == 1"),
        ("m_captured.clear();\n        return gesture;", "return gesture;")),
    *faults("generator", CORE + "TokenGenerator.cpp", GENERATOR_TESTS,
        ("distinct[i] - distinct[i - 1] <= 12", "distinct[i] - distinct[i - 1] < 12"),
        ("distinct.front() < lowestPianoKey", "distinct.front() <= lowestPianoKey"),
        ("distinct.back() > highestPianoKey", "distinct.back() >= highestPianoKey"),
        ("std::to_string(note / 12 - 1)", "std::to_string(note / 12)"),
        ("if (includeTitle && !token.title.empty()) {", "if (includeTitle) {"),
        ("const bool bare = i > 0 &&", "const bool bare = i > 1 &&")),
    *faults("controller", CORE + "CaptureController.hpp", CONTROLLER_TESTS,
        ("historyLimit = 10;", "historyLimit = 11;")),
    *faults("controller", CORE + "CaptureController.cpp", CONTROLLER_TESTS,
        ("m_history.empty() || m_history.front().text != token.text", "m_history.empty() || true")),
    *faults("ranking", CORE + "ChordRecognizer.cpp", RANKING_TESTS,
        ("return p.isCustom;", "return q.isCustom;"),
        ("return p.requiredCount > q.requiredCount;", "return p.requiredCount < q.requiredCount;"),
        ("return a.optionalPresent > b.optionalPresent;", "return a.optionalPresent < b.optionalPresent;"),
        ("return p.nameOrder < q.nameOrder;", "return p.nameOrder > q.nameOrder;"),
        ("[](const Match& m) { return m.bassIsRoot; }", "[](const Match& m) { return !m.bassIsRoot; }")),
    # Where the status item shows: the tray that reads it, the window, the waits.
    *faults("placement", QT + "StatusPlacement.cpp", PLACEMENT_TESTS,
        ("m_state.deadline = now + m_patience.atStart;", "m_state.deadline = now + m_patience.afterLoss;"),
        ("        if (inTray()) {", "        if (!inTray()) {"),
        ("m_state.shown == Shown::statusNotifier && !m_state.deadline",
         "m_state.shown == Shown::statusNotifier && m_state.deadline"),
        ("    if (m_state.offered) {", "    if (m_state.deadline) {"),
        ("m_state.offered = false;\n    if (m_state.shown == Shown::nothing || m_state.shown == Shown::statusNotifier)",
         "m_state.offered = false;\n    if (m_state.shown == Shown::nothing)"),
        ("m_state.shown != Shown::xembed || m_trays == TrayKind::none",
         "m_state.shown != Shown::xembed && m_trays == TrayKind::none"),
        ("if (!inTray() || m_state.deadline) {", "if (!inTray()) {"),
        ("m_state.deadline = now + m_patience.forReader;", "m_state.deadline = now + m_patience.afterLoss;")),
    # The status item carrying that out: the icon, the window, the menu at the icon.
    *faults("status-item", QT + "QtStatusItem.cpp", ITEM_TESTS,
        ("if (disabled == m_appearsDisabled) {", "if (disabled != m_appearsDisabled) {"),
        ("if (m_shown == Shown::window) {\n        m_window->present();",
         "if (m_shown == Shown::xembed) {\n        m_window->present();"),
        ("state.shown == Shown::window && before != Shown::window",
         "state.shown == Shown::window && before == Shown::window"),
        ("    if (qmenu->isVisible()) {\n        qmenu->hide();",
         "    if (qmenu->isVisible()) {\n        qmenu->show();"),
        ("at.y() - menu.height() >= screen.top()", "at.y() - menu.height() <= screen.top()"),
        ("corner.setX(at.x() - menu.width());", "corner.setX(at.x() + menu.width());"),
        ("        if (m_statusNotifier) {\n            m_statusNotifier->setToolTip(m_button->toolTip());",
         "        if (m_tray) {\n            m_statusNotifier->setToolTip(m_button->toolTip());"),
        ("        if (m_tray) {\n            m_tray->setIcon(m_button->icon());\n        }\n", "")),
    *faults("status-item", QT + "QtStatusItem.cpp", NOTIFIER_TESTS,
        ("if (self->m_placement.state().deadline && self->m_statusNotifier) {",
         "if (!self->m_placement.state().deadline && self->m_statusNotifier) {")),
    # The item on the bus, as StatusNotifierItem hosts read it.
    *faults("notifier", QT + "StatusNotifierItem.cpp", NOTIFIER_TESTS,
        ("nameAnswered(!reply.isError() && reply.value() == 1);",
         "nameAnswered(!reply.isError() && reply.value() == 2);"),
        ("const bool refusal = answer->isError() &&", "const bool refusal = !answer->isError() &&"),
        ("void StatusNotifierItem::Activate(int x, int y) { requestMenu(x, y); }",
         "void StatusNotifierItem::Activate(int x, int y) { requestMenu(y, x); }"),
        (".title = m_toolTip, .text = {}", ".title = {}, .text = m_toolTip"),
        ("            self->m_readPending = false;\n", ""),
        ("void StatusNotifierItem::askHostsToRead() {\n    Q_EMIT NewTitle();",
         "void StatusNotifierItem::askHostsToRead() {\n    Q_EMIT NewToolTip();",
         "hosts read the item again on any of its New* signals, and any property read counts as a "
         "read: which signal asks cannot be told apart")),
    # The menu as StatusNotifierItem hosts read it over com.canonical.dbusmenu.
    *faults("dbusmenu", QT + "DBusMenu.cpp", DBUSMENU_TESTS,
        ('label += QLatin1String("__");', "label += QLatin1Char('_');"),
        ("label += QLatin1Char('&');\n            ++index;", "label += QLatin1Char('&');"),
        ("action.isChecked() ? 1 : 0", "action.isChecked() ? 0 : 1"),
        ("if (menu == nullptr || depth == 0) {", "if (menu == nullptr || depth == 1) {"),
        ("action != nullptr && action->isEnabled() && !action->isSeparator()",
         "action != nullptr && !action->isSeparator()",
         "QAction::trigger() does nothing on an action disabled with setEnabled(false), as every "
         "disabled entry of the menu is"),
        ("if (sent->value(property.key()) != property.value()) {",
         "if (sent->value(property.key()) == property.value()) {"),
        ("return id == 0 && openedByHost();", "return openedByHost();"),
        ("if (now.contains(submenuKey) != sent->contains(submenuKey)) {",
         "if (now.contains(submenuKey) && sent->contains(submenuKey)) {")),
    # What the session's trays say: the StatusNotifierWatcher and its hosts.
    *faults("tray-hosts", QT + "TrayHosts.cpp", HOSTS_TESTS,
        ("QDBusServiceWatcher::WatchForOwnerChange", "QDBusServiceWatcher::WatchForRegistration"),
        ("m_watcherAnswered = answered;\n    if (kind() != before) {",
         "m_watcherAnswered = answered;\n    if (kind() == before) {"),
        ("StatusNotifierHostUnregistered\"), this,\n                    SLOT(hostUnregistered())",
         "StatusNotifierHostUnregistered\"), this,\n                    SLOT(hostRegistered())")),
    # The Wayland clipboard through data-control, against the tests' own compositor.
    *faults("wayland", WAYLAND + "DataControlClipboard.cpp", WAYLAND_TESTS,
        ("const bool again = self->m_deviceSpoke && self->m_session.seat != nullptr;",
         "const bool again = self->m_session.seat != nullptr;"),
        ("} else if (!answered && m_session.alive) {", "} else if (answered && m_session.alive) {"),
        ("if (ours && self->m_late.erase(announced->first) > 0) {",
         "if (!ours && self->m_late.erase(announced->first) > 0) {"),
        ("now - readers.front().since >= readerPatience", "now - readers.front().since <= readerPatience"),
        ("                if (found.selection != nullptr) {\n                    found.bindSeat();",
         "                if (found.selection == nullptr) {\n                    found.bindSeat();"),
        ("        if (taken) {\n            // The compositor handles requests in order",
         "        if (!taken) {\n            // The compositor handles requests in order")),
    # Whether a copy through data-control took.
    *faults("claim", WAYLAND + "SelectionClaim.cpp", CLAIM_TESTS,
        ("decide(Outcome::taken);", "decide(Outcome::refused);"),
        ("if (m_outcome == Outcome::pending) {", "if (m_outcome != Outcome::taken) {"),
        ("std::ranges::find(mimeTypes, m_marker) != mimeTypes.end()",
         "std::ranges::find(mimeTypes, m_marker) == mimeTypes.end()"),
        ("void SelectionClaim::compositorCaughtUp() { decide(Outcome::refused); }",
         "void SelectionClaim::compositorCaughtUp() { decide(Outcome::taken); }")),
    # The settings file.
    *faults("settings", QT + "JsonSettingsStore.cpp", SETTINGS_TESTS,
        ("if (number > static_cast<std::uint64_t>", "if (number >= static_cast<std::uint64_t>"),
        ("return json.get<double>();", "return json.get<std::int64_t>();"),
        ("if (json.is_discarded() || !json.is_object()) {", "if (json.is_discarded() || json.is_array()) {"),
        ("type() != std::filesystem::file_type::not_found; ++attempt",
         "type() == std::filesystem::file_type::not_found; ++attempt"),
        ("    } catch (const Error&) {\n        contents.damaged = true;",
         "    } catch (const Error&) {\n        contents.damaged = false;"),
        ("        current.damaged = false;\n", ""),
        ("    m_lastWriteError.reset();\n", "")),
    # The names that keep a person's disabled inputs across restarts and replugs.
    *faults("alsa-identity", ALSA + "ALSASourceIdentity.cpp", IDENTITY_TESTS,
        ("if (rank > 0) {", "if (rank > 1) {"),
        ("seen[{names.clientName, names.portName}]++", "++seen[{names.clientName, names.portName}]"),
        ("names.clientName.empty() || names.portName.starts_with",
         "names.clientName.empty() && names.portName.starts_with"),
        ("std::uint32_t hash = fnv1a32(names.clientName);\n    hash = fnv1a32(\"\\0\"sv, hash);\n",
         "std::uint32_t hash = fnv1a32(names.clientName);\n")),
    # The application's menu.
    *faults("menu-logic", APP + "AppDelegate.cpp", APP_TESTS,
        ('(connected == 1 ? "" : "s")', '(connected > 1 ? "" : "s")'),
        ("boolForKey(includeTitleKey) : true;", "boolForKey(includeTitleKey) : false;"),
        ("return; // one element of another kind", "continue; // one element of another kind"),
        ("titleItem->setState(running && m_controller->includeTitle());", "titleItem->setState(running);"),
        ("    updateButton();\n    if (m_menuOpen) {\n        showLiveLines();",
         "    updateButton();\n    if (!m_menuOpen) {\n        showLiveLines();"),
        ("m_copyItem->setEnabled(newest != nullptr);", "m_copyItem->setEnabled(newest == nullptr);"),
        ("m_recentItem->setEnabled(!recent->items().empty());", "m_recentItem->setEnabled(recent->items().empty());"),
        ("if (!m_disabledSources.erase(*uniqueID)) {", "if (m_disabledSources.erase(*uniqueID)) {"),
        ("void AppDelegate::refreshInputs() {\n    m_lastError.reset();", "void AppDelegate::refreshInputs() {"),
        ("if (token.text == *text) {", "if (token.text != *text) {"),
        ("entry->setState(connected);", "entry->setState(!connected);")),
]


def selected_faults(faults, areas, only, sample, seed):
    chosen = [fault for fault in faults
              if (not areas or fault.area in areas) and (only in fault.file or only in fault.original)]
    if sample is not None:
        # Equivalent faults are run only in the whole campaign: they pass by definition.
        chosen = [fault for fault in chosen if not fault.equivalent]
        chosen.sort(key=lambda fault: hashlib.sha256((seed + fault.key()).encode()).hexdigest())
        chosen = chosen[:sample]
        chosen.sort(key=faults.index)
    # One file's faults one after another: each file is compiled once per fault, and once more
    # when it is restored.
    order = {}
    for fault in chosen:
        order.setdefault(fault.file, len(order))
    return sorted(chosen, key=lambda fault: order[fault.file])


class Runner:
    def __init__(self, build, lock):
        self.build = build
        self.lock = lock
        self.targets = {}
        self.failed = set()

    @contextlib.contextmanager
    def locked(self):
        if not self.lock:
            yield
            return
        with open(self.lock, "a") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            try:
                yield
            finally:
                fcntl.flock(held, fcntl.LOCK_UN)

    def test_programs(self, tests):
        """The build targets of the programs that run the tests matching `tests`."""
        if tests not in self.targets:
            listing = subprocess.run(["ctest", "--test-dir", self.build, "-N", "-R", tests, "--show-only=json-v1"],
                                     capture_output=True, text=True, check=True)
            programs = {pathlib.Path(test["command"][0]).name for test in json.loads(listing.stdout)["tests"]
                        if test.get("command")}
            self.targets[tests] = sorted(programs)
        return self.targets[tests]

    def build_targets(self, targets):
        command = ["cmake", "--build", self.build]
        if targets:
            command += ["--target", *targets]
        return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0

    def run_tests(self, tests, stop_on_failure):
        """(passed, names of the tests that ran, names of those skipped)."""
        command = ["ctest", "--test-dir", self.build, "-R", tests, "-j2", "--timeout", "120"]
        if stop_on_failure:
            command.append("--stop-on-failure")
        result = subprocess.run(command, capture_output=True, text=True)
        self.failed |= set(re.findall(r"Test +#\d+: (\S+) \.+\*+(?:Failed|Timeout|Exception|Not Run)", result.stdout))
        ran = re.findall(r"Test +#\d+: (\S+) \.", result.stdout)
        skipped = re.findall(r"Test +#\d+: (\S+) \.+\*+Skipped", result.stdout)
        return result.returncode == 0 and bool(ran), ran, skipped


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build/dev")
    parser.add_argument("--all", action="store_true")
    parser.add_argument("--sample", type=int)
    parser.add_argument("--area", default="")
    parser.add_argument("--only", default="")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--lock")
    options = parser.parse_args()
    os.chdir(ROOT)
    areas = {area for area in options.area.split(",") if area}
    unknown = areas - {fault.area for fault in FAULTS}
    if unknown:
        sys.exit(f"mutation-check: no area {', '.join(sorted(unknown))}; --list shows them")

    missing = [fault for fault in FAULTS if (ROOT / fault.file).read_text().count(fault.original) != 1]
    for fault in missing:
        print(f"N/A     {fault.area:13} {fault.file}: {fault.original!r} is not found exactly once: "
              "the code moved, write the fault anew", flush=True)

    if options.list:
        for fault in FAULTS:
            mark = "equivalent" if fault.equivalent else ""
            print(f"{fault.area:13} {fault.tests:48} {fault.file}: {fault.original!r} -> {fault.mutated!r} {mark}")
        return 1 if missing else 0

    seed = ""
    if options.sample is not None and not options.all:
        seed = subprocess.run(["git", "rev-parse", "HEAD"], capture_output=True, text=True).stdout.strip()
        print(f"mutation-check: {options.sample} faults chosen by commit {seed[:12]}")
    chosen = selected_faults([fault for fault in FAULTS if fault not in missing], areas, options.only,
                             None if options.all else options.sample, seed)

    runner = Runner(options.build, options.lock)
    started = time.monotonic()
    # The tests must pass on the tree as it is, and a fault whose tests all skip here is seen by none.
    targets = sorted({target for fault in chosen for target in runner.test_programs(fault.tests)})
    ran = skipped = []
    if chosen:
        with runner.locked():
            if not runner.build_targets(targets):
                sys.exit(f"mutation-check: the unmutated tree must build first (cmake --build {options.build})")
            # One expression at a time: CMake's regular expressions take ten groups at most.
            passed, ran, skipped = True, [], []
            for tests in sorted({fault.tests for fault in chosen}):
                each = runner.run_tests(tests, False)
                passed, ran, skipped = passed and each[0], ran + each[1], skipped + each[2]
        if not passed:
            sys.exit("mutation-check: the unmutated tree must pass the faults' tests first; failing: " +
                     (", ".join(sorted(runner.failed)) or "none ran"))
    unseen = [fault for fault in chosen
              if not [name for name in ran if re.search(fault.tests, name) and name not in skipped]]
    for fault in unseen:
        print(f"N/A     {fault.area:13} {fault.file}: every test of {fault.tests!r} skips here", flush=True)
    missing += unseen

    caught = missed = listed = unbuilt = 0
    for fault in chosen:
        if fault in unseen:
            continue
        path = ROOT / fault.file
        text = path.read_text()
        failed = True
        built = False
        planted_at = time.monotonic()
        try:
            path.write_text(text.replace(fault.original, fault.mutated))
            with runner.locked():
                built = runner.build_targets(runner.test_programs(fault.tests))
                if built:
                    failed = not runner.run_tests(fault.tests, True)[0]
        finally:
            path.write_text(text)
        if failed:
            caught += 1
            # The compiler caught it, not a test: worth a better fault.
            verdict = "caught" if built else "unbuilt"
            unbuilt += not built
        elif fault.equivalent:
            listed += 1
            verdict = "equiv."
        else:
            missed += 1
            verdict = "MISSED"
        print(f"{verdict:7} {fault.area:13} {time.monotonic() - planted_at:3.0f} s  {fault.file}: "
              f"{fault.original!r} -> {fault.mutated!r}", flush=True)
        if verdict == "equiv.":
            print(f"        {'':13} {fault.equivalent}", flush=True)
    with runner.locked():
        runner.build_targets(targets)
    planted = caught + missed + listed
    print(f"mutation-check: {planted} planted, {caught} caught ({unbuilt} by the compiler), "
          f"{listed} listed as equivalent, {missed} missed, "
          f"{len(missing)} n/a ({time.monotonic() - started:.0f} s)")
    return 1 if missed or missing else 0


if __name__ == "__main__":
    sys.exit(main())
