"""One way to start a desktop session: fresh home and XDG folders under a folder, a session bus of
its own (and a private system bus where the desktop wants one), the desktop's programs; at the
end every process of the session is ended by id, those started here and those whose environment
names the session's runtime folder (services the bus started, daemons that left their parent)."""

import glob
import os
import re
import shutil
import signal
import subprocess
import time

import dbus

from .report import Lines, end, wait_for

HERE = os.path.dirname(os.path.abspath(__file__))
WATCHER = "org.kde.StatusNotifierWatcher"


class SessionError(Exception):
    """A part of the session did not start; the message says which."""


class Session:
    def __init__(self, folder, report):
        self.folder = os.path.abspath(folder)
        self.report = report
        self.processes = []
        self.runtime = os.path.join(self.folder, "runtime")
        self.env = {"PATH": os.environ.get("PATH", "/usr/sbin:/usr/bin:/sbin:/bin"), "LANG": "C.UTF-8",
                    "XDG_RUNTIME_DIR": self.runtime, "PYTHONPATH": os.path.dirname(HERE)}
        for name, variable in (("home", "HOME"), ("config", "XDG_CONFIG_HOME"), ("data", "XDG_DATA_HOME"),
                               ("cache", "XDG_CACHE_HOME")):
            self.env[variable] = os.path.join(self.folder, name)
            os.makedirs(self.env[variable], exist_ok=True)
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        self.bus = None

    def __enter__(self):
        try:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = self.start_bus("bus")
            self.bus = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *_):
        self.close()

    def path(self, name):
        return os.path.join(self.folder, name)

    def start(self, args, name, pass_fds=(), **env):
        """A process of the session, its output in NAME.log."""
        with open(self.path(f"{name}.log"), "ab") as log:
            process = subprocess.Popen(args, env={**self.env, **env}, stdin=subprocess.DEVNULL, stdout=log,
                                       stderr=subprocess.STDOUT, pass_fds=pass_fds)
        self.processes.append(process)
        return process

    def run(self, args, timeout=10, text=True, **options):
        """A command with the session's environment, its output captured (as text unless told)."""
        return subprocess.run(args, env=self.env, capture_output=True, text=text, timeout=timeout, **options)

    def start_bus(self, name, config=None):
        """A dbus-daemon of the session (config: a configuration's text, else the session bus's); its address."""
        args = ["dbus-daemon", "--nofork", "--print-address=1"]
        if config is None:
            args.append("--session")
        else:
            with open(self.path(f"{name}.conf"), "w") as file:
                file.write(config.format(dir=self.runtime))
            args.append(f"--config-file={self.path(name + '.conf')}")
        with open(self.path("dbus.log"), "ab") as log:
            process = subprocess.Popen(args, env=self.env, stdout=subprocess.PIPE, stderr=log, text=True)
        self.processes.append(process)
        address = process.stdout.readline().strip()
        if not address:
            raise SessionError(f"dbus-daemon did not start the {name}")
        return address

    def start_system_bus(self):
        # Desktops look for a system bus; a private one serves.
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.start_bus("system bus")

    def update_activation_environment(self):
        """Services the bus starts from now on run with the session's environment (its displays)."""
        self.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").UpdateActivationEnvironment(
            dbus.Dictionary(self.env, signature="ss"), dbus_interface="org.freedesktop.DBus")

    def monitor(self, *rules, parse=lambda line: (line,)):
        """dbus-monitor on the session bus, its lines (report.Lines) read from its first on."""
        lines = Lines(["dbus-monitor", "--session", *rules], self.env, parse=parse, stderr=subprocess.DEVNULL)
        lines.start()
        lines.wait_after(0, 5)
        return lines

    def owner_pid(self, name):
        try:
            return int(self.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").GetConnectionUnixProcessID(
                name, dbus_interface="org.freedesktop.DBus"))
        except dbus.DBusException:
            return None

    def wait_for_watcher(self, host, timeout=120):
        started = time.monotonic()
        if not wait_for(lambda: self.bus.name_has_owner(WATCHER), timeout, 0.1):
            raise SessionError(f"{host} did not provide a StatusNotifierWatcher within {timeout} s")
        self.report.figure(f"{host}'s StatusNotifierWatcher ready after {(time.monotonic() - started) * 1000:.0f} ms")

    def wait_for_file(self, name, what, timeout, process=None):
        """The first line of file NAME once a program of the session has written it."""
        path = self.path(name)
        if not wait_for(lambda: os.path.exists(path) or (process is not None and process.poll() is not None), timeout, 0.1) \
                or not os.path.exists(path):
            raise SessionError(f"{what} did not start within {timeout} s")
        with open(path) as file:
            return file.readline().split()

    def strays(self):
        """The processes, not started here, whose environment names the session's runtime folder."""
        found = []
        marker = f"XDG_RUNTIME_DIR={self.runtime}".encode()
        for environ in glob.glob("/proc/[0-9]*/environ"):
            pid = int(environ.split("/")[2])
            try:
                with open(environ, "rb") as file:
                    if pid != os.getpid() and marker in file.read().split(b"\0"):
                        found.append(pid)
            except OSError:
                continue
        return found

    def close(self):
        strays = self.strays()
        for process in self.processes:
            if process.poll() is None:
                process.terminate()
        for number in (signal.SIGTERM, signal.SIGKILL):
            for pid in strays:
                try:
                    os.kill(pid, number)
                except OSError:
                    pass
            time.sleep(0.2 if number == signal.SIGTERM else 0)
        for process in self.processes:
            end(process, 0.5)


def logs(session, lines=20):
    """The tail of each log of the session, as "LOG name: line" lines."""
    for path in sorted(glob.glob(session.path("*.log"))):
        with open(path, errors="replace") as file:
            for line in file.read().splitlines()[-lines:]:
                session.report.emit("LOG", f"{os.path.basename(path)}: {line}")


def version(session, program):
    """The program's own name and version, or its name."""
    result = subprocess.run([program, "--version"], env={**session.env, "QT_QPA_PLATFORM": "offscreen"},
                            capture_output=True, text=True, timeout=30)
    return (result.stdout or result.stderr).strip().splitlines()[0] if result.returncode == 0 else program


def start_x11(session, size="1280x800"):
    """Xvfb on a free display."""
    read, write = os.pipe()
    try:
        session.start(["Xvfb", "-displayfd", str(write), "-screen", "0", f"{size}x24", "-nolisten", "tcp", "-noreset"],
                      "xvfb", pass_fds=(write,))
    finally:
        os.close(write)
    with os.fdopen(read) as pipe:
        number = pipe.readline().strip()
    if not number:
        raise SessionError("Xvfb did not start")
    session.env["DISPLAY"] = f":{number}"
    session.update_activation_environment()


def start_xfce(session):
    """Xfce's panel under Xvfb, with this folder's layout: its systray plugin is the watcher and host."""
    start_x11(session, "1024x600")
    layout = os.path.join(session.env["XDG_CONFIG_HOME"], "xfce4/xfconf/xfce-perchannel-xml")
    os.makedirs(layout, exist_ok=True)
    shutil.copy(os.path.join(HERE, "xfce4-panel.xml"), layout)
    session.start(["xfce4-panel", "--disable-wm-check"], "panel")
    session.wait_for_watcher(version(session, "xfce4-panel"))


def start_trayer(session):
    """trayer at the top right of Xvfb: an XEmbed tray, nothing on the bus (so no menu over D-Bus)."""
    start_x11(session, "1024x600")
    session.start(["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "160",
                   "--height", "24"], "panel")
    if not wait_for(lambda: '"panel"' in session.run(["xwininfo", "-root", "-tree"]).stdout, 60, 0.1):
        raise SessionError("trayer did not show its panel within 60 s")


LXQT_PANEL = """[General]
__userfile__=true
[panel1]
alignment=1
desktop=0
plugins=statusnotifier
position=Bottom
width=100
widthPercent=true
[statusnotifier]
type=statusnotifier
"""


def start_lxqt(session):
    """LXQt's panel with its status notifier plugin (watcher and host) at the bottom, openbox, Xvfb."""
    start_x11(session)
    folder = os.path.join(session.env["XDG_CONFIG_HOME"], "lxqt")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "panel.conf"), "w") as file:
        file.write(LXQT_PANEL)
    session.start(["openbox"], "openbox")
    # A panel that maps its window while openbox takes the screen over stays unmapped.
    if not wait_for(lambda: "window id" in session.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]).stdout, 10, 0.05):
        raise SessionError("openbox did not take the screen within 10 s")
    session.start(["lxqt-panel"], "panel", QT_QPA_PLATFORM="xcb")
    session.wait_for_watcher(version(session, "lxqt-panel"))


def sticky_x11_folder():
    # XWayland refuses a folder for its socket that is not sticky.
    os.makedirs("/tmp/.X11-unix", exist_ok=True)
    try:
        os.chmod("/tmp/.X11-unix", 0o1777)
    except OSError:
        pass


def start_gnome(session):
    """GNOME Shell headless on Wayland with XWayland, unsafe (for org.gnome.Shell.Eval, screenshots)."""
    session.start_system_bus()
    sticky_x11_folder()
    started = time.monotonic()
    shell = session.start(["gnome-shell", "--headless", "--wayland", "--unsafe-mode", "--virtual-monitor", "1280x800"],
                          "shell")
    log = lambda: open(session.path("shell.log"), errors="replace").read()
    if not wait_for(lambda: "GNOME Shell started" in log() or shell.poll() is not None, 120, 0.1) \
            or "GNOME Shell started" not in log():
        raise SessionError("GNOME Shell did not start" + (" (it ended)" if shell.poll() is not None else " within 120 s"))
    session.report.figure(f"{version(session, 'gnome-shell')} started after {(time.monotonic() - started) * 1000:.0f} ms")
    display = re.search(r"Using public X11 display (:\d+)", log())
    wayland = re.search(r"Using Wayland display name '([^']+)'", log())
    authority = glob.glob(os.path.join(session.runtime, ".mutter-Xwaylandauth.*"))
    if not display or not authority:
        raise SessionError("no XWayland display in the shell's log")
    session.env.update(DISPLAY=display.group(1), XAUTHORITY=authority[0], XDG_SESSION_TYPE="wayland",
                       WAYLAND_DISPLAY=wayland.group(1) if wayland else "wayland-0")
    session.update_activation_environment()


READY = """#!/bin/sh
echo "$WAYLAND_DISPLAY $DISPLAY ${{XAUTHORITY:-}}" > {ready}.tmp && mv {ready}.tmp {ready}
"""


def start_kwin(session):
    """KWin on Wayland (virtual output 1280x800, XWayland), from a plain copy of its binary: the
    installed one carries a file capability that a container may refuse. KDE_SESSION_VERSION is
    KWin's major version, Plasma's too (plasmashell --version crashes in Plasma 6.3)."""
    session.start_system_bus()
    sticky_x11_folder()
    kwin = session.path("kwin_wayland")
    shutil.copy(shutil.which("kwin_wayland") or "/usr/bin/kwin_wayland", kwin)
    kwin_version = version(session, kwin)
    # KDE_DEBUG: a crash ends the program instead of waiting in KDE's crash dialog.
    session.env.update(XDG_CURRENT_DESKTOP="KDE", KDE_FULL_SESSION="true", XDG_SESSION_TYPE="wayland",
                       KWIN_SCREENSHOT_NO_PERMISSION_CHECKS="1", KDE_DEBUG="1",
                       KDE_SESSION_VERSION=kwin_version.split()[-1].split(".")[0])
    with open(session.path("ready.sh"), "w") as file:
        file.write(READY.format(ready=session.path("ready")))
    os.chmod(session.path("ready.sh"), 0o755)
    started = time.monotonic()
    process = session.start([kwin, "--virtual", "--xwayland", "--width", "1280", "--height", "800", "--no-lockscreen",
                             "--socket", "quenlitor-kde", session.path("ready.sh")], "kwin")
    fields = session.wait_for_file("ready", "kwin_wayland", 60, process)
    session.env.update(WAYLAND_DISPLAY=fields[0], DISPLAY=fields[1], XAUTHORITY=fields[2] if len(fields) > 2 else "")
    session.report.figure(f"{kwin_version} with XWayland {fields[1]} ready after "
                          f"{(time.monotonic() - started) * 1000:.0f} ms")
    session.update_activation_environment()


def start_plasmashell(session):
    return session.start(["plasmashell", "--no-respawn"], "plasmashell", QT_QPA_PLATFORM="wayland")


def start_plasma(session):
    """KDE Plasma: KWin, plasmashell's default panel and system tray, kded's watcher, the activity manager."""
    start_kwin(session)
    session.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").StartServiceByName(
        "org.kde.ActivityManager", dbus.UInt32(0), dbus_interface="org.freedesktop.DBus", timeout=60)
    started = time.monotonic()
    shell = start_plasmashell(session)

    def host():
        try:
            return bool(session.bus.get_object(WATCHER, "/StatusNotifierWatcher").Get(
                WATCHER, "IsStatusNotifierHostRegistered", dbus_interface=dbus.PROPERTIES_IFACE))
        except dbus.DBusException:
            return False

    if not wait_for(lambda: host() or shell.poll() is not None, 120, 0.1) or not host():
        raise SessionError("no StatusNotifierHost registered with the watcher" +
                           (" (plasmashell ended)" if shell.poll() is not None else " within 120 s"))
    session.report.figure(f"plasmashell {session.env['KDE_SESSION_VERSION']}'s tray host registered after {(time.monotonic() - started) * 1000:.0f} ms")


SWAY = """xwayland enable
output HEADLESS-1 resolution 1280x800
bar {{
  position top
  tray_output *
}}
exec sh -c 'echo "$WAYLAND_DISPLAY $DISPLAY" > {ready}.tmp && mv {ready}.tmp {ready}'
"""


def start_sway(session):
    """sway headless with XWayland and swaybar (the watcher and host) at the top; sway refuses to
    run as root."""
    if os.getuid() == 0:
        raise SessionError("sway does not run as root; start this session as an unprivileged user")
    with open(session.path("sway.config"), "w") as file:
        file.write(SWAY.format(ready=session.path("ready")))
    started = time.monotonic()
    sway = session.start(["sway", "--config", session.path("sway.config")], "sway", WLR_BACKENDS="headless",
                         WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
    fields = session.wait_for_file("ready", "sway", 120, sway)
    session.env.update(WAYLAND_DISPLAY=fields[0], DISPLAY=fields[1], XDG_SESSION_TYPE="wayland")
    session.report.figure(f"{version(session, 'sway')} ready after {(time.monotonic() - started) * 1000:.0f} ms")
    session.update_activation_environment()
    session.wait_for_watcher("swaybar")


DESKTOPS = {"x11": start_x11, "trayer": start_trayer, "xfce": start_xfce, "lxqt": start_lxqt, "gnome": start_gnome, "kwin": start_kwin,
            "kde": start_plasma, "sway": start_sway}
