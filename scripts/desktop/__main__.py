import importlib
import os
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
    module = None if name.startswith("--") else importlib.import_module(f"desktop.{name}")
    report = Report(module.TAG if module else name[2:] or desktop.upper())
    with Session(folder, report) as session:
        try:
            DESKTOPS[desktop](session)
        except (SessionError, OSError, dbus.DBusException) as error:
            report.check(False, f"the {desktop} session starts", str(error))
            logs(session)
            return report.done()
        if module is None:
            # The command's own settings (QUENLITOR_*) pass; its output of the application goes
            # to the session's application.log.
            settings = {k: v for k, v in os.environ.items() if k.startswith("QUENLITOR_")}
            status = subprocess.run(arguments, env={"QUENLITOR_APP_ERR": session.path("application.log"), **settings,
                                                    **session.env}).returncode
            if status:
                logs(session, 30)
            return status
        with open(session.path("application.log"), "ab") as log:
            try:
                module.checks(report, session, log, *arguments)
            except Exception as error:  # a check that cannot go on is one failure, not a hang
                report.check(False, "the checks ran to the end", f"{type(error).__name__}: {error}")
        if report.failures:
            logs(session, 10)
        return report.done()


sys.exit(main(sys.argv[1:]))
