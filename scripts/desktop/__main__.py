import importlib
import subprocess
import sys

import dbus

from .report import Report
from .session import DESKTOPS, Session, SessionError, logs


def main(argv):
    if len(argv) < 3 or argv[0] not in DESKTOPS:
        print(sys.modules["desktop"].__doc__, file=sys.stderr)
        return 2
    desktop, folder, name, *arguments = argv
    module = None if name == "--" else importlib.import_module(f"desktop.{name}")
    report = Report(module.TAG if module else desktop.upper())
    with Session(folder, report) as session:
        try:
            DESKTOPS[desktop](session)
        except (SessionError, OSError, dbus.DBusException) as error:
            report.check(False, f"the {desktop} session starts", str(error))
            logs(session)
            return report.done()
        if module is None:
            return subprocess.run(arguments, env=session.env).returncode
        with open(session.path("application.log"), "ab") as log:
            try:
                module.checks(report, session, log, *arguments)
            except Exception as error:  # a check that cannot go on is one failure, not a hang
                report.check(False, "the checks ran to the end", f"{type(error).__name__}: {error}")
        if report.failures:
            logs(session, 10)
        return report.done()


sys.exit(main(sys.argv[1:]))
